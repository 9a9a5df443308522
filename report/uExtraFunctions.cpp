#include "report/uExtraFunctions.h"

// ---- Tick-state conversions ----

int32_t CheckStateToDB(uint8_t State)
{
    switch (State) {
    case 2:
    case 3:
        return 1;
    case 4:
    case 5:
        return 2;
    default:
        return 0;
    }
}

uint8_t DBToCheckState(int32_t Value)
{
    switch (Value) {
    case 1:
        return 2;
    case 2:
        return 4;
    default:
        return 0;
    }
}
