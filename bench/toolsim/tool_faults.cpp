#include "toolsim/tool_faults.h"

bool ToolFaults_take(std::map<int, CommandFault>& table, int command) {
    auto it = table.find(command);
    if (it == table.end()) return false;
    CommandFault& fault = it->second;
    if (fault.after > 0) {
        --fault.after;
        return false;
    }
    if (fault.times > 0 && --fault.times == 0) table.erase(it);
    return true;
}
