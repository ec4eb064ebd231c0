#include "survey/Sequence.h"
