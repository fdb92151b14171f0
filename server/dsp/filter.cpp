#include "dsp/filter.h"

#include <cstring>

void filter_reset(filter_section *s)
{
    s->b0 = 1.0;
    s->b1 = s->b2 = 0.0;
    s->a0 = 1.0;
    s->a1 = s->a2 = 0.0;
    memcpy(s->coef_block, FILTER_BYPASS_BLOCK, sizeof s->coef_block);
    if (s->flags & FILTER_FLAG_RESPONSE) {
        // N0, N1, N2, D1, D2, D0 of a flat 0 dB curve
        const float flat[6] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
        memcpy(s->response, flat, sizeof s->response);
    }
}

void filter_reset_with_response(filter_section *s)
{
    s->flags |= FILTER_FLAG_RESPONSE;
    filter_reset(s);
}

void filter_record_reset(filter_record *r)
{
    memset(r, 0, sizeof *r);
    r->b0 = 1.0;
    r->a0 = 1.0;
    memcpy(r->coef_block, FILTER_BYPASS_BLOCK, sizeof r->coef_block);
}
