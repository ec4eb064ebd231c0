#include "graph/Memorygraph.h"
