// Shell completion: which shells get a script, what the value of each
// argument completes to, and where a live lookup of names reads them.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace talvo::core {

inline constexpr std::array<std::string_view, 3> kCompletionShells = {"bash", "zsh", "fish"};

// A live lookup runs while the operator waits at the prompt: past this it
// gives up and offers nothing.
inline constexpr double kLookupSeconds = 2.0;

// The shell of `--completion SHELL` or `--completion=SHELL` when those are
// the whole command line (the words after the program name) and SHELL is
// one of kCompletionShells. Any other line is the grammar's to judge, which
// also accepts the option among other top-level options.
std::optional<std::string_view> completion_request(std::span<const std::string_view> words);

enum class ValueCompletion {
  grammar,    // the choices the grammar lists, if any
  files,      // file names
  databases,  // the server's databases
  tables,     // the tables of one database
  roles,      // the server's roles
  nothing,    // free text: nothing is offered
};

// What the value of an argument completes to. `command` is the command
// words that lead to the argument's parser, space-separated ("" at the top
// level, "show tables", "drop user"); `dest` is the argument's destination.
ValueCompletion value_completion(std::string_view command, std::string_view dest,
                                 bool has_choices);

// Whether a completion reads names from the server.
bool is_live(ValueCompletion completion);

// The database whose tables a table name completes from: the one named on
// the line, else the discovered one; none when neither names one (empty
// names none).
std::optional<std::string_view> table_database(std::optional<std::string_view> on_line,
                                               std::optional<std::string_view> discovered);

// Whether a name from the server can be offered: a shell takes candidates
// one a line, so a name holding a control character would arrive as pieces
// or garble the prompt, and an empty one would complete to nothing.
bool offerable_name(std::string_view name);

// Whether no shell escapes anything in a word offered as it stands: it holds
// none of the characters bash, zsh or a quote around the word would have
// escaped (blanks, quotes, backslashes, glob and control characters,
// colons).
bool needs_no_quoting(std::string_view word);

}  // namespace talvo::core
