#include "common/ssException.h"
