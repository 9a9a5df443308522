#include "report/uLog.h"
