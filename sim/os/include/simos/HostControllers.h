#pragma once

// The machine's IEEE 1394 host controllers, as the setup-class enumeration reports them: a list of device
// instance ids kept in the bus directory (file "controllers"), so that every process sees the list that
// devsim set. Without a setting the machine has one controller. The list can also be told to make the
// class query fail.

#include <string>
#include <vector>

namespace sim::os
{

struct HostControllerList
{
    bool queryFails = false;
    std::vector<std::string> instanceIds; // in enumeration order
};

// The instance id of the controller a machine has when nothing was set.
extern const char* const kDefaultHostControllerId;

HostControllerList hostControllers();

// Stores the list for every process of the bus; false when it cannot be written.
bool setHostControllers(const HostControllerList& list);

// "devsim controllers [<id> ...] | --fail": args are the words after "controllers". Returns the exit status.
int devsimControllers(const std::vector<std::string>& args, std::string& out, std::string& err);

// "devsim os qpf <hz>": args are the words after "os". Returns the exit status.
int devsimOs(const std::vector<std::string>& args, std::string& out, std::string& err);

} // namespace sim::os
