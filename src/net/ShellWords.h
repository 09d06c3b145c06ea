#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Command lines a user pastes into a POSIX shell. A word of letters, digits
// and the harmless marks in kShellBareMarks stays bare; any other word is put
// in single quotes, a quote inside it as '\'', so that no host, name or
// filter typed into a page can expand, split or run anything.
std::string ShellWord(std::string_view word);

// The words quoted one by one and joined by single spaces, then the
// operands, after "--" when one of them would read as an option.
std::string ShellCommand(std::initializer_list<std::string_view> words,
                         std::initializer_list<std::string_view> operands = {});

// A host as the command-line tools take it: an IPv6 literal without the
// brackets a page accepts around it, anything else as typed.
std::string CommandHost(std::string_view host);
