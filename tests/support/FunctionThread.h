#pragma once
// For tests: a worker thread that runs a function, made suspended as the system's workers are.
#include "platform/TThread.h"

#include <atomic>
#include <functional>

namespace support {

class FunctionThread : public TThread
{
public:
    explicit FunctionThread(std::function<void(FunctionThread &)> Body, bool Suspended = true)
        : TThread(true), FBody(std::move(Body))
    {
        if (!Suspended)
            Resume();
    }
    ~FunctionThread() override { ++Destroyed; }
    void SetReturn(int V) { ReturnValue = V; }
    static inline std::atomic<int> Destroyed{0};

protected:
    void Execute() override
    {
        if (FBody)
            FBody(*this);
    }

private:
    std::function<void(FunctionThread &)> FBody;
};

} // namespace support
