// The command-line grammar, built on argparse with rich-argparse's help
// formatter on every parser.
#include <string>
#include <string_view>
#include <utility>

#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "core/completion.hpp"
#include "core/data_format.hpp"

namespace talvo::cli {
namespace {

constexpr const char* kDescription = "Production-ready PostgreSQL management CLI tool with asyncpg";


// Help texts go through %-formatting in argparse.
std::string help_literal(std::string s) {
  for (std::size_t i = 0; (i = s.find('%', i)) != std::string::npos; i += 2) s.insert(i, "%");
  return s;
}

struct Grammar {
  nb::object parser_class, config_file_action, command_action, formatter, int_type;
};

nb::object add_parser(const Grammar& g, nb::handle subparsers, const char* name, const char* help) {
  return subparsers.attr("add_parser")(name, "help"_a = help, "formatter_class"_a = g.formatter);
}

void add_database(nb::handle p) {
  p.attr("add_argument")("-d", "--database", "dest"_a = "database", "default"_a = nb::none(),
                         "help"_a = "Database name (auto-detect if not provided)");
}

void add_debug(nb::handle p) {
  p.attr("add_argument")("--debug", "dest"_a = "debug", "action"_a = "store_true",
                         "help"_a = "Enable debug mode");
}

void add_levels(const Grammar&, nb::handle p) {
  p.attr("add_argument")("-ul", "--up-level", "dest"_a = "up_level", "type"_a = int64_type(),
                         "default"_a = 0, "help"_a = "Max deep up level config file search, default=0");
  p.attr("add_argument")("-dl", "--down-level", "dest"_a = "down_level", "type"_a = int64_type(),
                         "default"_a = 1,
                         "help"_a = "Max deep down level config file search, default=1");
}

// CSV and JSON are for programs: the data alone on standard output, every
// message on standard error.
constexpr const char* kFormatHelp =
    "Output format: table (default), csv or json; csv and json write only the data to "
    "standard output and every message to standard error";
constexpr const char* kQueryFormatHelp =
    "Output format: table (default), csv or json; csv and json write every row unless "
    "--limit is given, only the data to standard output and every message to standard error";
constexpr const char* kGlobalFormatHelp =
    "Output format of show, describe and query: table (default), csv or json; one given "
    "after the command word wins";

nb::list format_choices() {
  nb::list choices;
  for (std::string_view name : core::kFormatNames) choices.append(nb::str(name.data(), name.size()));
  return choices;
}

// The top-level option and the command's own have separate places in the
// parsed record, so that neither hides the other; main settles which one
// the command uses.
void add_format(nb::handle p, const char* dest = "format", const char* help = kFormatHelp) {
  p.attr("add_argument")("--format", "dest"_a = dest, "choices"_a = format_choices(),
                         "default"_a = nb::none(), "help"_a = help);
}

void add_optional_table(nb::handle p) {
  p.attr("add_argument")("-t", "--table", "dest"_a = "table", "default"_a = nb::none(),
                         "help"_a = "Table name (optional)");
}

void add_global_options(const Grammar& g, nb::handle p) {
  nb::module_ m = self();
  std::string host = text(m.attr("HOST"));
  std::string port = text(m.attr("DEFAULT_PORT"));
  p.attr("add_argument")("CONFIG_FILE", "nargs"_a = "?", "default"_a = nb::none(),
                         "action"_a = g.config_file_action,
                         "help"_a = "Optional config file (*.env, *.ini, *.toml, *.json, *.yml/yaml)");
  p.attr("add_argument")("-H", "--hostname", "dest"_a = "hostname", "default"_a = m.attr("HOST"),
                         "help"_a = help_literal("PostgreSQL server address (default: " + host + ")"));
  p.attr("add_argument")("-U", "--user", "dest"_a = "user", "default"_a = "postgres",
                         "help"_a = "PostgreSQL superuser (default: postgres)");
  p.attr("add_argument")("-P", "--passwd", "dest"_a = "passwd", "default"_a = nb::none(),
                         "help"_a = "PostgreSQL superuser password");
  p.attr("add_argument")("--port", "dest"_a = "port", "type"_a = g.int_type,
                         "default"_a = m.attr("DEFAULT_PORT"),
                         "help"_a = help_literal("PostgreSQL server port (default: " + port + ")"));
  add_levels(g, p);
  add_debug(p);
  add_format(p, "global_format", kGlobalFormatHelp);
  p.attr("add_argument")("--where", "dest"_a = "where", "action"_a = "store_true",
                         "help"_a = "Show where the command would connect and where each value "
                                    "comes from, without connecting");
  p.attr("add_argument")("-v", "--version", "dest"_a = "version", "action"_a = "store_true",
                         "help"_a = "Show version");
  nb::list shells;
  for (std::string_view shell : core::kCompletionShells) shells.append(nb::str(shell.data(), shell.size()));
  p.attr("add_argument")("--completion", "dest"_a = "completion", "choices"_a = shells,
                         "metavar"_a = "SHELL", "default"_a = nb::none(),
                         "help"_a = "Print the shell completion script (bash, zsh or fish)");
}

void add_show(const Grammar& g, nb::handle commands) {
  nb::object show = add_parser(g, commands, "show", "Show database information");
  nb::object sub = show.attr("add_subparsers")("dest"_a = "show_command", "help"_a = "Show options");
  add_format(add_parser(g, sub, "dbs", "List all databases"));

  nb::object tables = add_parser(g, sub, "tables", "List tables in database");
  add_database(tables);
  add_debug(tables);
  add_levels(g, tables);
  add_format(tables);

  add_format(add_parser(g, sub, "users", "List all users/roles"));
  add_format(add_parser(g, sub, "connections", "Show active connections"));

  for (auto [name, help] : {std::pair{"indexes", "Show indexes"}, std::pair{"size", "Show sizes"}}) {
    nb::object p = add_parser(g, sub, name, help);
    add_database(p);
    add_optional_table(p);
    add_debug(p);
    add_levels(g, p);
    add_format(p);
  }
}

void add_create(const Grammar& g, nb::handle commands) {
  nb::object p = add_parser(g, commands, "create", "Create user and database");
  p.attr("add_argument")("CONFIG", "nargs"_a = "*", "help"_a = "Format: NEW_USERNAME NEW_PASSWORD NEW_DB");
  p.attr("add_argument")("-u", "--username", "dest"_a = "username", "default"_a = nb::none(),
                         "help"_a = "New PostgreSQL username");
  p.attr("add_argument")("-p", "--password", "dest"_a = "password", "default"_a = nb::none(),
                         "help"_a = "Password for new user");
  p.attr("add_argument")("-d", "--database", "dest"_a = "database", "default"_a = nb::none(),
                         "help"_a = "Database name to create");
  add_debug(p);
  add_levels(g, p);
}

void add_describe(const Grammar& g, nb::handle commands) {
  nb::object p = add_parser(g, commands, "describe", "Show table structure");
  add_database(p);
  p.attr("add_argument")("-t", "--table", "dest"_a = "table", "required"_a = true,
                         "help"_a = "Table name");
  add_debug(p);
  add_levels(g, p);
  add_format(p);
}

void add_query(const Grammar& g, nb::handle commands) {
  nb::object p = add_parser(g, commands, "query", "Execute SQL query");
  add_database(p);
  p.attr("add_argument")("-q", "--query", "dest"_a = "query", "required"_a = true,
                         "help"_a = "SQL query to execute");
  p.attr("add_argument")("--readonly", "dest"_a = "readonly", "action"_a = "store_true",
                         "help"_a = "Prevent destructive operations");
  p.attr("add_argument")("--limit", "dest"_a = "limit", "type"_a = int64_type(),
                         "default"_a = nb::none(), "help"_a = "Limit rows displayed (default: 100)");
  add_debug(p);
  add_levels(g, p);
  add_format(p, "format", kQueryFormatHelp);
}

void add_backup(const Grammar& g, nb::handle commands) {
  nb::object p = add_parser(g, commands, "backup", "Backup database");
  add_database(p);
  add_debug(p);
  add_levels(g, p);
}

void add_drop(const Grammar& g, nb::handle commands) {
  nb::object drop = add_parser(g, commands, "drop", "Drop database or user");
  nb::object sub = drop.attr("add_subparsers")("dest"_a = "drop_command", "help"_a = "Drop options");

  nb::object database = add_parser(g, sub, "database", "Drop a database");
  add_database(database);
  add_debug(database);

  nb::object user = add_parser(g, sub, "user", "Drop a user/role");
  user.attr("add_argument")("-u", "--username", "dest"_a = "username", "required"_a = true,
                            "help"_a = "Username to drop");
  add_debug(user);
  add_levels(g, user);
}

nb::object build_parser(nb::object formatter) {
  Grammar g;
  g.formatter = std::move(formatter);
  // The argparse classes the grammar needs are Python subclasses.
  nb::module_ classes = nb::module_::import_("talvo.parsing");
  g.parser_class = classes.attr("Parser");
  g.config_file_action = classes.attr("ConfigFileAction");
  g.command_action = classes.attr("CommandAction");
  g.int_type = nb::module_::import_("builtins").attr("int");

  nb::object parser = g.parser_class("prog"_a = "talvo", "description"_a = kDescription,
                                     "formatter_class"_a = g.formatter);
  add_global_options(g, parser);
  nb::object commands = parser.attr("add_subparsers")(
      "dest"_a = "command", "help"_a = "Available commands", "action"_a = g.command_action);
  add_show(g, commands);
  add_create(g, commands);
  add_describe(g, commands);
  add_query(g, commands);
  add_backup(g, commands);
  add_drop(g, commands);
  return parser;
}

nb::object setup_argument_parser() {
  return build_parser(nb::module_::import_("rich_argparse").attr("RichHelpFormatter"));
}

}  // namespace

nb::object grammar_without_help() {
  return build_parser(nb::module_::import_("argparse").attr("HelpFormatter"));
}

void define_grammar(nb::module_& m) { m.def("setup_argument_parser", &setup_argument_parser); }

}  // namespace talvo::cli
