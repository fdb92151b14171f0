// The panel's receive path: the server's byte stream in pieces as reads
// bring it, joined at the residual line, each complete line parsed by its
// entry of the receive table and handed to a listener.
#include <cstring>
#include <string_view>

#include "network.h"
#include "sgui/sgui.h"
#include "support/fuzz_root.h"

namespace {

// What a screen would read from a parsed report.
void listener(const command_arg *a, intptr_t id)
{
    FUZZ_CHECK(a->id == (int)id);
    FUZZ_CHECK(a->count >= 0 && a->count <= 128);
    FUZZ_CHECK(memchr(a->text, '\0', sizeof a->text) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    sgui_mutex_create();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FUZZ_CHECK(network_init() == 0);  // empty residual, fresh table
    for (int id = 0; id < NETWORK_IDS; id++)
        if (network_has_parser(id))
            network_add_listener(id, listener, id);
    for (std::string_view piece : fuzz_pieces(std::string_view((const char *)data, size), 70000))
        network_receive(piece.data(), piece.size());
    return 0;
}
