// Network namespaces for tests that need real interfaces ("br0", two linked
// devices, DNS on a real address). They are made with ip(8) as root and
// nothing is ever configured in the host's own namespace. Every namespace is
// removed on every exit path: by its destructor (also after a failed
// assertion), and by a sweep of those that runs killed on the way left.
#pragma once
#include <functional>
#include <string>
#include <vector>

// Every namespace made here is "mirelnl-<pid>-<tag>".
constexpr const char *NETNS_PREFIX = "mirelnl-";

// Why namespaces cannot be made on this machine; empty when they can.
std::string netns_unavailable();

// Deletes the namespaces of our prefix whose creating process has gone,
// after ending what still runs in them.
void netns_sweep_stale();

// The path of ip(8), which starts programs inside a namespace.
const std::string &netns_ip_tool();

class Netns {
public:
    // Makes the namespace with its loopback up; ok() tells whether it worked.
    explicit Netns(const std::string &tag);
    ~Netns();
    Netns(const Netns &) = delete;
    Netns &operator=(const Netns &) = delete;

    const std::string &name() const { return name_; }
    bool ok() const { return ok_; }

    // Runs a shell command line inside; returns its exit status and, when out
    // is given, its standard output.
    int run(const std::string &cmd, std::string *out = nullptr) const;
    // Calls fn on a thread that has entered the namespace: the sockets it
    // makes stay there, whichever thread uses them afterwards.
    void enter(const std::function<void()> &fn) const;
    // Adds a bridge "br0" with the address (CIDR) and brings it up.
    bool add_bridge(const std::string &cidr) const;
    // The command lines (arguments joined by blanks) of the processes inside.
    std::vector<std::string> processes() const;

private:
    std::string name_;
    bool ok_ = false;
};

// Joins two namespaces with a veth pair whose ends are both named "br0" and
// gives them the addresses (CIDR).
bool netns_join_br0(const Netns &a, const std::string &cidr_a, const Netns &b, const std::string &cidr_b);
