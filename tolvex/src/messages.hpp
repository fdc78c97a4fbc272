// Where the library's own messages go: the host's handler, or standard error.
#pragma once

namespace tolvex {

// Hands text to the registered message handler (on the calling thread), or writes it
// to standard error followed by a line break when no handler is registered.
// The texts "CreateThread ERROR", "CreateThread 2 ERROR" and "m_QueueRead FULL!" keep the
// names of the parts that first reported them: hosts and their operators match on them.
void show_message(const char *text);

// Makes sure the message handler exists before, and so outlives, whoever calls this.
void init_messages();

}  // namespace tolvex
