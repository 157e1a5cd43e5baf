// Opening a job's index over HTTP, with the login loop for servers that answer 401: an
// empty login is tried once, then the user is asked (the console surface's login question)
// for as long as they confirm and the server refuses. Each confirmed login is stored in
// the settings at once. After a login was sent, the address is opened once more in a fresh
// pass, which the session's remembered login lets through without a second question.
//
// Threads: FetchServerConfig runs on the worker thread of a run; EditLoginInfo on the
// front end's thread while no run is going.
#pragma once

#include <memory>
#include <string_view>

#include "run/RunResult.h"

namespace zephyrate {

class Console;
class ConsoleSurface;
class HttpFile;
class InternetError;
class InternetSession;
class SettingsStore;
struct SyncJob;

// Reasons of the login question and their messages.
inline constexpr int kLoginInvalid = 1;  // "The credentials you supplied are invalid."
inline constexpr int kLoginEdit = 2;     // "Please enter the login information."
std::string_view LoginReasonText(int reason);

// An open response for "http://" + url with a status below 400, positioned at the start of
// its body; nullptr when the address cannot be opened, the request cannot be sent again,
// the user cancels the login question, or the status is 400 or more (then the status line
// reads "HTTP Error %i"). May set job.UserName and job.Password and the stored login.
std::unique_ptr<HttpFile> FetchServerConfig(Console& console, std::string_view url, SyncJob& job);

// The typed reason of a transport failure while fetching an index.
FetchFailure FetchFailureOf(const InternetError& error);

// The job's login on one request (used by its next SendRequest).
bool ApplyRequestCredentials(HttpFile& response, const SyncJob& job);
// The job's login on the session, for every later request of the job.
bool ApplySessionCredentials(InternetSession& session, const SyncJob& job);

// The "Edit Login Info" command: asks with reason 2, pre-filled with the stored login, and
// stores what the user confirms. True when confirmed.
bool EditLoginInfo(ConsoleSurface& surface, SettingsStore& settings);

}  // namespace zephyrate
