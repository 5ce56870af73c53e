// Database operations: connections and each command's work on the server.
#pragma once

#include "pyutil.hpp"

namespace talvo::db {

void define_connection(nb::module_& m);     // get_connection
void define_reports(nb::module_& m);        // show_databases, show_tables, show_users, show_connections
void define_index_report(nb::module_& m);   // show_indexes
void define_size_report(nb::module_& m);    // show_size
void define_connect_check(nb::module_& m);  // connect
void define_describe(nb::module_& m);       // describe_table
void define_query(nb::module_& m);          // execute_query
void define_provisioning(nb::module_& m);   // create_user_db
void define_drop_database(nb::module_& m);  // drop_database
void define_drop_user(nb::module_& m);      // drop_user
void define_backup(nb::module_& m);         // backup_database

}  // namespace talvo::db
