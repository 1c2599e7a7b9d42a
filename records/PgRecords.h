// The line's records on a PostgreSQL server: one table keyed by the record's
// UUID, so that a record sent twice is stored once.
#pragma once

#include "records/Record.h"
#include "records/ServerAddress.h"
#include "records/SqliteStore.h"

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace pqxx {
class connection_base;
}

namespace kestrune::records {

// Why a call to the server failed, on one line. A connection that broke
// says so in plain words, libpq's reason after them.
std::string ServerFailureText(const std::exception &failure);

// Creates the table when missing; safe when several clients do it at once.
void EnsurePgTable(pqxx::connection_base &connection);

// Sends the records in one transaction. Records the server holds already are
// skipped. Throws pqxx's exceptions.
void InsertPg(pqxx::connection_base &connection, std::vector<Record> records);

// Newest first, one record at a time from a cursor on the server: memory
// stays the same whatever their number. Throws pqxx's exceptions.
void ForEachPg(pqxx::connection_base &connection, const RecordFilter &filter,
               const std::function<void(const Record &)> &take);
// Newest first, all at once.
std::vector<Record> ListPg(pqxx::connection_base &connection, const RecordFilter &filter);

} // namespace kestrune::records
