#include "dsp/rt_thread.h"

rt_info_t *rt_info = nullptr;
pthread_mutex_t command_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t levels_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t levels_cond = PTHREAD_COND_INITIALIZER;
volatile uint32_t rt_cycle_counter = 0;
