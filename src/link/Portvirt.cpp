#include "link/Portvirt.h"
