// Standard input needs nothing before it is read.
#include "tools/servo-sim/controlinput.h"

void prepareControlInput()
{
}
