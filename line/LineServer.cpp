#include "line/LineServer.h"

#include "line/LineQueries.h"
#include "line/WebFiles.h"
#include "platform/IsoUtcTime.h"
#include "records/PgRecords.h"
#include "records/ServerAddress.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <pqxx/pqxx>

namespace kestrune::line {
namespace {

using nlohmann::json;

// Nothing the page loads comes from elsewhere, and nothing inline runs.
const char *const Policy = "default-src 'none'; script-src 'self'; style-src 'self'; "
                           "img-src 'self'; connect-src 'self'; base-uri 'none'; "
                           "frame-ancestors 'none'; form-action 'self'";

void Secure(httplib::Response &response) {
  response.set_header("Content-Security-Policy", Policy);
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Cache-Control", "no-store");
}

void SendJson(httplib::Response &response, int status, const json &body) {
  Secure(response);
  response.status = status;
  // Texts from the records are sent exactly; bytes that are not UTF-8 are
  // replaced rather than failing the answer.
  response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace),
                       "application/json; charset=utf-8");
}

std::string TokenOf(const httplib::Request &request) {
  const std::string bearer = request.get_header_value("Authorization");
  if (bearer.rfind("Bearer ", 0) == 0)
    return bearer.substr(7);
  if (request.has_header("X-Kestrune-Token"))
    return request.get_header_value("X-Kestrune-Token");
  return request.get_param_value("token");
}

} // namespace

bool SameToken(const std::string &given, const std::string &wanted) {
  unsigned char differ = given.size() == wanted.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i)
    differ |= static_cast<unsigned char>(given[i] ^ wanted[wanted.empty() ? 0 : i % wanted.size()]);
  return differ == 0 && !wanted.empty();
}

LineServer::LineServer(LineDatabase &database, LineServerOptions options)
    : Database(database), Options(std::move(options)), Http(std::make_unique<httplib::Server>()) {
  Routes();
}

LineServer::~LineServer() { Stop(); }

bool LineServer::Bind(std::string &why) {
  if (Options.Port == 0) {
    Port = Http->bind_to_any_port(Options.Host);
    if (Port > 0)
      return true;
  } else if (Http->bind_to_port(Options.Host, Options.Port)) {
    Port = Options.Port;
    return true;
  }
  why = "cannot listen on " + Options.Host + ":" + std::to_string(Options.Port) +
        " (in use, or not an address of this machine)";
  return false;
}

void LineServer::Serve() { Http->listen_after_bind(); }

void LineServer::Stop() {
  if (Http)
    Http->stop();
}

void LineServer::Routes() {
  Http->set_pre_routing_handler([this](const httplib::Request &request,
                                       httplib::Response &response) {
    if (Options.Token.empty() || SameToken(TokenOf(request), Options.Token))
      return httplib::Server::HandlerResponse::Unhandled;
    SendJson(response, 401, {{"error", "an access token is needed (Authorization: Bearer "
                                       "TOKEN, or ?token=TOKEN)"}});
    return httplib::Server::HandlerResponse::Handled;
  });
  for (const WebFile *file = WebFiles(); file->Path; ++file)
    Http->Get(file->Path, [file](const httplib::Request &, httplib::Response &response) {
      Secure(response);
      response.set_content(file->Body.data(), file->Body.size(), file->ContentType);
    });

  // Every API answer: the filters read, the question asked on a connection
  // of the database's, a server that fails said as 503 with its reason.
  using Question = std::function<json(pqxx::connection &, const LineSchema &, const LineFilter &,
                                      const httplib::Request &)>;
  auto api = [this](const char *path, bool shiftByDefault, Question ask) {
    Http->Get(path, [this, shiftByDefault, ask](const httplib::Request &request,
                                                httplib::Response &response) {
      std::string why;
      std::optional<LineFilter> filter = FilterFromQuery(request.params, why);
      if (!filter)
        return SendJson(response, 400, {{"error", why}});
      // Without a time range the counts are the current shift's.
      if (shiftByDefault && filter->From.empty() && filter->To.empty() &&
          request.get_param_value("all") != "1")
        filter->From = IsoUtcTime(std::chrono::system_clock::now() -
                                  std::chrono::hours(Options.ShiftHours));
      try {
        json answer;
        Database.With([&](pqxx::connection &connection, const LineSchema &schema) {
          answer = ask(connection, schema, *filter, request);
        });
        SendJson(response, 200, answer);
      } catch (const pqxx::data_exception &failure) {
        SendJson(response, 400, {{"error", records::ServerFailureText(failure)}});
      } catch (const std::exception &failure) {
        SendJson(response, 503,
                 {{"error", "cannot read the line's server: " +
                                records::WithoutPassword(records::ServerFailureText(failure),
                                                         Database.ShownAddress())}});
      }
    });
  };
  api("/api/stations", false, [this](pqxx::connection &c, const LineSchema &s,
                                     const LineFilter &f, const httplib::Request &) {
    return QueryStations(c, s, f, Options.OfflineAfter);
  });
  api("/api/yield", true, [](pqxx::connection &c, const LineSchema &s, const LineFilter &f,
                             const httplib::Request &) { return QueryYield(c, s, f); });
  api("/api/failures", true, [](pqxx::connection &c, const LineSchema &s, const LineFilter &f,
                                const httplib::Request &) { return QueryFailures(c, s, f); });
  api("/api/hourly", false, [this](pqxx::connection &c, const LineSchema &s,
                                   const LineFilter &f, const httplib::Request &) {
    return QueryHourly(c, s, f, Options.ShiftHours);
  });
  api("/api/search", false, [](pqxx::connection &c, const LineSchema &s, const LineFilter &f,
                               const httplib::Request &request) {
    return QuerySearch(c, s, f, request.get_param_value("q"));
  });
  api("/api/settings", false, [this](pqxx::connection &, const LineSchema &s,
                                     const LineFilter &, const httplib::Request &) {
    return json{{"offline_after", Options.OfflineAfter.count()},
                {"shift_hours", Options.ShiftHours},
                {"job_field", s.JobName},
                {"serial_index", s.SerialIndex}};
  });
}

} // namespace kestrune::line
