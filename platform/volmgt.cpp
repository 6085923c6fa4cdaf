#include "platform/volmgt.h"

int volmgt_inuse(const char *)
{
    return 0;
}

const char *volmgt_symname(const char *)
{
    return nullptr;
}
