// Information requests (ids 1024 to 1038): answered only to the asking
// client, every line with connection id 0. Bad requests print one line and
// get no reply.
#pragma once

#include "report_format.h"

constexpr int COMMAND_INFO_FIRST = 1024;
constexpr int COMMAND_INFO_LAST = 1038;

// Appends the reply to line ("id,connection,arguments...") to w.
void command_info_work(const char *line, report_writer *w);
