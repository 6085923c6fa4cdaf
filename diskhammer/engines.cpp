// The engine table, in the order the passes run them and the report lists them.
#include "diskhammer/diskhammer.h"

const io_engine *const engines[ENGINE_COUNT] = {&regular_engine, &locked_engine, &async_engine};

bool engine_selected(const Settings &set, int engine)
{
    const int chosen[ENGINE_COUNT] = {set.R_option, set.L_option, set.A_option};
    return chosen[engine] != 0;
}
