// Where the library's own messages go: the host's handler, or standard error.
#pragma once

namespace tolvex {

// Hands text to the registered message handler (on the calling thread), or writes it
// to standard error followed by a line break when no handler is registered.
void show_message(const char *text);

// Makes sure the message handler exists before, and so outlives, whoever calls this.
void init_messages();

}  // namespace tolvex
