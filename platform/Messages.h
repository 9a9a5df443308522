#pragma once
// Window message numbers the system uses.
constexpr unsigned WM_USER = 0x400;
