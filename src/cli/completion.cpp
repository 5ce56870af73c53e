// Shell completion: the script a shell loads, and the answer to one press
// of TAB. argcomplete reads commands, options and choices from the grammar
// itself; values that name a database, table or role are read from the
// server the working directory's settings point to, through the same
// discovery and connection rules the commands use.
#include <chrono>
#include <optional>
#include <string>

#include "bridge/coroutine.hpp"
#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "cli/discovery.hpp"
#include "core/completion.hpp"
#include "db/connect.hpp"
#include "db/session.hpp"
#include "output/output.hpp"
#include "settings/scope.hpp"
#include "settings/target.hpp"

namespace talvo::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "talvo";

// The names the reports show (show dbs, show tables by bare name as -t
// takes it, show users), and the word a shell that shows descriptions
// puts beside them.
struct NameSource {
  core::ValueCompletion kind;
  const char* sql;
  const char* description;
};

constexpr NameSource kNameSources[] = {
    {core::ValueCompletion::databases,
     "SELECT datname FROM pg_database WHERE NOT datistemplate ORDER BY datname", "database"},
    {core::ValueCompletion::tables,
     "SELECT DISTINCT tablename FROM pg_tables "
     "WHERE schemaname NOT IN ('pg_catalog', 'information_schema') ORDER BY tablename",
     "table"},
    {core::ValueCompletion::roles,
     "SELECT rolname FROM pg_roles WHERE rolname NOT LIKE 'pg_%' ORDER BY rolname", "role"},
};

const NameSource& name_source(core::ValueCompletion kind) {
  for (const NameSource& source : kNameSources)
    if (source.kind == kind) return source;
  return kNameSources[0];
}

// What a live completer needs when argcomplete calls it.
struct Lookup {
  core::ValueCompletion kind;
  TypedOptions typed;
  nb::object parser;  // the top-level parser, for the defaults of typed options
  Clock::time_point deadline;
};

double seconds_left(Clock::time_point deadline) {
  return std::chrono::duration<double>(deadline - Clock::now()).count();
}

// Raises `expired` in whatever Python code runs when the time is up: the
// discovery may execute a project's settings.py, which no timeout of the
// driver reaches. `expired` derives from BaseException alone, so no
// `except Exception` on the way swallows it.
class Alarm {
 public:
  Alarm(double seconds, nb::handle expired) {
    nb::module_ signal = nb::module_::import_("signal");
    nb::object raise_expired = nb::cpp_function([expired = nb::borrow(expired)](nb::args) {
      PyErr_SetNone(expired.ptr());
      throw nb::python_error();
    });
    previous_ = signal.attr("signal")(signal.attr("SIGALRM"), raise_expired);
    signal.attr("setitimer")(signal.attr("ITIMER_REAL"), seconds);
  }
  ~Alarm() {
    undo_quietly([&] {
      nb::module_ signal = nb::module_::import_("signal");
      signal.attr("setitimer")(signal.attr("ITIMER_REAL"), 0);
      signal.attr("signal")(signal.attr("SIGALRM"), previous_);
    });
  }
  Alarm(const Alarm&) = delete;
  Alarm& operator=(const Alarm&) = delete;

 private:
  nb::object previous_;
};

// The discovery keeps what it found in the module's _settings_cache, where
// every later discovery of the process would find it: a lookup starts
// without it and leaves it as it was.
class OwnSettingsCache {
 public:
  OwnSettingsCache() : kept_(self().attr("_settings_cache")) {
    self().attr("_settings_cache") = nb::none();
  }
  ~OwnSettingsCache() {
    undo_quietly([&] {
      self().attr("_settings_cache") = kept_;
    });
  }
  OwnSettingsCache(const OwnSettingsCache&) = delete;
  OwnSettingsCache& operator=(const OwnSettingsCache&) = delete;

 private:
  nb::object kept_;
};

bridge::Coroutine fetch(nb::object conn, nb::str sql) { co_return co_await conn.attr("fetch")(sql); }

bridge::Coroutine fetch_names(core::Values target, nb::str sql) {
  co_return co_await db::in_session(db::open_connection(std::move(target)).to_python(),
                                    [&](nb::object conn) { return fetch(std::move(conn), sql); },
                                    db::OnInterrupt::terminate);
}

nb::object run_within(nb::object coroutine, double seconds) {
  nb::module_ asyncio = nb::module_::import_("asyncio");
  nb::object runner = asyncio.attr("Runner")();
  nb::object result;
  try {
    result = runner.attr("run")(asyncio.attr("wait_for")(coroutine, seconds));
  } catch (...) {
    runner.attr("close")();
    throw;
  }
  runner.attr("close")();
  return result;
}

std::optional<std::string> name_text(nb::handle value) {
  if (!truthy(value)) return std::nullopt;
  return nb::isinstance<nb::str>(value) ? utf8(value) : text(value);
}

// The rows of the lookup's statement, or None when there is nothing to
// look up. `parsed_args` is what argcomplete parsed of the line so far.
nb::object read_names(const Lookup& lookup, nb::handle parsed_args) {
  // A copy: argcomplete's record stays as it parsed it.
  nb::object fields = nb::module_::import_("builtins").attr("vars")(parsed_args);
  nb::object args = nb::module_::import_("argparse").attr("Namespace")(**fields);
  settings::GivenOptions given = lookup.typed.settle(args, lookup.parser);
  nb::object on_line = arg(args, "database");

  settings::DiscoveryScope scope;
  settings::note_given_options(given);
  discover_settings(args, given);
  const bool tables = lookup.kind == core::ValueCompletion::tables;
  core::Target target = settings::command_target(
      args, tables ? core::Purpose::database : core::Purpose::maintenance);
  if (tables) {
    // The database on the line first, then the one the command would use.
    std::optional<std::string> line = name_text(on_line);
    auto chosen = core::table_database(line, target.values[core::Setting::database].text);
    if (!chosen) return nb::none();
    if (line && *chosen == *line)
      target.values[core::Setting::database] =
          settings::value_of(on_line, {core::Source::Kind::option, "-d/--database", {}, 0});
  }
  return run_within(fetch_names(target.values, nb::str(name_source(lookup.kind).sql)).to_python(),
                    seconds_left(lookup.deadline));
}

// Whatever goes wrong, TAB offers nothing: no settings, a server that is
// down or silent, a refused login, the time running out.
nb::dict live_names(const Lookup& lookup, nb::handle parsed_args) {
  double seconds = seconds_left(lookup.deadline);
  if (seconds <= 0) return nb::dict();
  nb::module_ builtins = nb::module_::import_("builtins");
  nb::object expired = builtins.attr("type")("LookupExpired",
                                             nb::make_tuple(builtins.attr("BaseException")),
                                             nb::dict());
  nb::dict names;
  nb::str description(name_source(lookup.kind).description);
  try {
    OwnSettingsCache own_cache;
    Alarm alarm(seconds, expired);
    nb::object rows = read_names(lookup, parsed_args);
    if (rows.is_none()) return names;
    for (nb::handle row : rows) {
      nb::object name = row[0];
      if (nb::isinstance<nb::str>(name) && core::offerable_name(utf8(name)))
        names[name] = description;
    }
  } catch (nb::python_error& e) {
    if (!is_ordinary(e) && !e.matches(expired)) throw;
    return nb::dict();
  }
  return names;
}

bool is_instance(nb::handle value, nb::handle type) {
  int r = PyObject_IsInstance(value.ptr(), type.ptr());
  if (r < 0) throw nb::python_error();
  return r == 1;
}

nb::object no_names() {
  return nb::cpp_function([](nb::kwargs) { return nb::list(); });
}

nb::object file_names(nb::handle argcomplete) {
  nb::object files = argcomplete.attr("FilesCompleter")();
  return nb::cpp_function([files](nb::kwargs kwargs) -> nb::object {
    // The command words after a file word are parsed by the top-level
    // parser again (see lead_back), which would offer a second file.
    if (truthy(arg(nb::object(kwargs["parsed_args"]), "CONFIG_FILE"))) return nb::list();
    return files(**kwargs);
  });
}

nb::object live_completer(Lookup lookup) {
  return nb::cpp_function([lookup = std::move(lookup)](nb::kwargs kwargs) {
    return live_names(lookup, nb::object(kwargs["parsed_args"]));
  });
}

// The top-level command action also takes the file word and parses the
// words after it itself (see the grammar). argcomplete looks every word
// handed to a command action up among its commands, so there a file word
// leads back to the top-level parser.
void lead_back(nb::handle command_action, nb::handle parser) {
  nb::module_ builtins = nb::module_::import_("builtins");
  nb::object missing =
      nb::cpp_function([parser = nb::borrow(parser)](nb::handle) { return parser; });
  nb::dict body;
  body["__missing__"] = builtins.attr("staticmethod")(missing);
  nb::object words_type = builtins.attr("type")("CommandWords",
                                                nb::make_tuple(builtins.attr("dict")), body);
  nb::setattr(command_action, "_name_parser_map", words_type(command_action.attr("choices")));
}

struct Marking {
  nb::object argcomplete, subparsers_type, parser, nothing, files;
  TypedOptions typed;
  Clock::time_point deadline;
};

// Gives every argument of `parser` and the parsers below it its completer.
void mark(const Marking& m, nb::handle parser, const std::string& command) {
  for (nb::handle action : parser.attr("_actions")) {
    if (is_instance(action, m.subparsers_type)) {
      if (command.empty()) lead_back(action, parser);
      for (nb::handle item : action.attr("choices").attr("items")()) {
        std::string word = text(item[0]);
        mark(m, item[1], command.empty() ? word : command + " " + word);
      }
      continue;
    }
    auto kind = core::value_completion(command, word_of(action, "dest"),
                                       !action.attr("choices").is_none());
    switch (kind) {
      case core::ValueCompletion::grammar: break;
      case core::ValueCompletion::nothing: nb::setattr(action, "completer", m.nothing); break;
      case core::ValueCompletion::files:
        nb::setattr(action, "completer", m.files);
        // argcomplete counts a positional as passed only when it has run its
        // action, and runs only actions it knows to be harmless; this one
        // only stores the word.
        m.argcomplete.attr("safe_actions").attr("add")(action.type());
        break;
      default:
        nb::setattr(action, "completer", live_completer({kind, m.typed, m.parser, m.deadline}));
    }
  }
}

// The live lookups need to know which top-level options were typed, as the
// commands do: the record argcomplete parses into gets the markers first.
void mark_typed_options(nb::handle parser, const TypedOptions& typed) {
  nb::object parse = parser.attr("parse_known_args");
  nb::setattr(parser, "parse_known_args",
              nb::cpp_function(
                  [parse, typed](nb::object words, nb::object record) {
                    if (!record.is_none()) typed.mark(record);
                    return parse(words, record);
                  },
                  nb::arg("args").none() = nb::none(), nb::arg("namespace").none() = nb::none()));
}

// The shell shows the process nothing (the scripts send its output nowhere
// too) and it reads nothing: a prompt would wait for a reader that never
// comes.
void detach_standard_streams() {
  nb::module_ os = nb::module_::import_("os");
  nb::object null = os.attr("open")(os.attr("devnull"), os.attr("O_RDWR"));
  for (int fd : {0, 1, 2}) os.attr("dup2")(null, fd);
  os.attr("close")(null);
}

bool none_needs_quoting(nb::handle completions) {
  for (nb::handle word : completions) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(word.ptr(), &size);
    if (data == nullptr) {
      PyErr_Clear();
      return false;
    }
    if (!core::needs_no_quoting(std::string_view(data, static_cast<std::size_t>(size)))) return false;
  }
  return true;
}

// argcomplete's finder, with two steps that cost seconds over the tables of
// a big database made linear: it drops repeated words by looking each one up
// among the words kept so far (a dict keeps the first of each in one pass;
// no words are excluded here), and it escapes every word character by
// character, though most names hold nothing to escape (those come back as
// they are; it still sees any list with a word to escape, or of one word,
// which may get its trailing space).
nb::object linear_finder(nb::handle argcomplete) {
  nb::module_ builtins = nb::module_::import_("builtins");
  nb::object base = argcomplete.attr("CompletionFinder");
  nb::object unique = nb::cpp_function([](nb::handle completions) {
    nb::object first = nb::steal(PyDict_New());
    for (nb::handle word : completions)
      if (PyDict_SetDefault(first.ptr(), word.ptr(), Py_None) == nullptr) throw nb::python_error();
    return nb::list(first);
  });
  nb::object quote_all = base.attr("quote_completions");
  nb::object quote = nb::cpp_function(
      [quote_all](nb::handle self, nb::handle completions, nb::handle prequote,
                  nb::handle last_wordbreak) -> nb::object {
        if (last_wordbreak.is_none() && nb::len(completions) > 1 && none_needs_quoting(completions))
          return nb::borrow(completions);
        return quote_all(self, completions, prequote, last_wordbreak);
      },
      nb::arg("self"), nb::arg("completions"), nb::arg("cword_prequote").none(),
      nb::arg("last_wordbreak_pos").none());
  nb::dict body;
  body["filter_completions"] = builtins.attr("staticmethod")(unique);
  // partialmethod binds the finder to the function, as a method's self.
  body["quote_completions"] = nb::module_::import_("functools").attr("partialmethod")(quote);
  nb::object finder_type = builtins.attr("type")(
      "CompletionFinder", nb::make_tuple(base), body);
  return finder_type();
}

void complete_command_line() {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(core::kLookupSeconds));
  detach_standard_streams();
  nb::module_ sys = nb::module_::import_("sys");
  // A settings.py that a lookup executes leaves no bytecode in the project.
  sys.attr("dont_write_bytecode") = true;

  // Nothing of what is printed reaches anyone: it is not even rendered.
  output::MessagesAside::discard();
  nb::object parser = grammar_without_help();
  nb::module_ argcomplete = nb::module_::import_("argcomplete");
  Marking m{argcomplete,
            nb::module_::import_("argparse").attr("_SubParsersAction"),
            parser,
            no_names(),
            file_names(argcomplete),
            TypedOptions(),
            deadline};
  mark(m, parser, "");
  mark_typed_options(parser, m.typed);
  linear_finder(argcomplete)(parser, "always_complete_options"_a = false,
                             "exit_method"_a = sys.attr("exit"), "default_completer"_a = m.nothing);
}

void print_completion_script(const std::string& shell) {
  nb::list programs;
  programs.append(kProgram);
  // Without readline's own file names when a lookup finds nothing.
  nb::object script = nb::module_::import_("argcomplete")
                          .attr("shellcode")(programs, "use_defaults"_a = false, "shell"_a = shell);
  nb::object out = nb::module_::import_("sys").attr("stdout");
  out.attr("write")(script);
  out.attr("flush")();
}

}  // namespace

void define_completion(nb::module_& m) {
  m.def("print_completion_script", &print_completion_script, "shell"_a);
  m.def("complete_command_line", &complete_command_line);
}

}  // namespace talvo::cli
