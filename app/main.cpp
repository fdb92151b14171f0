// mirelapp: the front panel. Reads no command-line arguments; ends only
// through SDL's quit event.
#include "app.h"

int main()
{
    if (app_start() != 0)
        return -1;
    for (;;)
        app_pass();
}
