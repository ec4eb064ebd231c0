#include "app/Appstate.h"
