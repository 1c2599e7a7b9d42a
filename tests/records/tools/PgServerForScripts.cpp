// The tests' private PostgreSQL server for a shell script (the Windows
// records test under Wine): starts it, prints its URL on the first line,
// then answers each line read as one SQL query with its first value, and
// stops the server when its input ends.
//
//   records_pg_server   (run as a coprocess; close its input to stop it)
#include "tests/records/PgServer.h"

#include <exception>
#include <iostream>
#include <string>

int main() {
  using namespace kestrune::records::test;
  PgServer server;
  if (!server.Start()) {
    std::cerr << "records_pg_server: " << server.Error() << "\n";
    return 1;
  }
  std::cout << server.Url() << std::endl;
  std::string sql;
  while (std::getline(std::cin, sql)) {
    try {
      std::cout << PgScalar(server.Url(), sql) << std::endl;
    } catch (const std::exception &error) {
      std::cout << "ERROR " << error.what() << std::endl;
    }
  }
  return 0;
}
