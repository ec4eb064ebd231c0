#include "script/Eventlog.h"
