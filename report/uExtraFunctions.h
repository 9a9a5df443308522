#pragma once
// Small services of the report layer.
#include <cstdint>

// ---- Tick-state conversions ----
// The trees hold 0 unchecked, 2 checked, 4 mixed (1, 3, 5 their pressed forms); the report stores
// 0 unchecked, 1 checked, 2 mixed in check_and_comment_map.

// Tree state -> stored value: 2 and 3 give 1, 4 and 5 give 2, anything else 0.
int32_t CheckStateToDB(uint8_t State);
// Stored value -> tree state: 1 gives 2, 2 gives 4, anything else (0, NULL read as 0) gives 0.
uint8_t DBToCheckState(int32_t Value);
