#include "engine/ServerAccess.h"

#include <cstdint>
#include <string>
#include <utility>

#include "engine/SyncJob.h"
#include "platform/HttpFile.h"
#include "platform/InternetError.h"
#include "platform/InternetSession.h"
#include "platform/WinTypes.h"
#include "run/Console.h"
#include "run/ConsoleSurface.h"
#include "settings/SettingsStore.h"

namespace zephyrate {

namespace {

// Sends the request again with the job's login and reads the new status. False when no
// response came or it carries no status: the fetch then ends as if the address could not
// be opened, since there is nothing the user could be asked about.
bool Resend(Console& console, HttpFile& response, const SyncJob& job, std::uint32_t& status) {
    ApplyRequestCredentials(response, job);
    try {
        response.SendRequest();
    } catch (const InternetError& error) {
        console.SetFetchFailure(FetchFailureOf(error));
        return false;
    }
    return response.QueryInfoStatusCode(status);
}

}  // namespace

FetchFailure FetchFailureOf(const InternetError& error) {
    using Kind = FetchFailure::Kind;
    Kind kind = Kind::Other;
    switch (error.GetCause()) {
        case InternetError::Cause::Refused:
            kind = Kind::Refused;
            break;
        case InternetError::Cause::UnknownHost:
            kind = Kind::UnknownHost;
            break;
        case InternetError::Cause::Timeout:
            kind = Kind::Timeout;
            break;
        case InternetError::Cause::Incomplete:
            kind = Kind::Incomplete;
            break;
        case InternetError::Cause::Other:
            break;
    }
    return {kind, 0, error.what()};
}

std::string_view LoginReasonText(int reason) {
    switch (reason) {
        case kLoginInvalid:
            return "The credentials you supplied are invalid.";
        case kLoginEdit:
            return "Please enter the login information.";
        default:
            return "";
    }
}

std::unique_ptr<HttpFile> FetchServerConfig(Console& console, std::string_view url, SyncJob& job) {
    ConsoleSurface& surface = console.Surface();
    SettingsStore& settings = console.Settings();
    // The prefix is always added: the user types the address without it.
    const std::string address = "http://" + std::string(url);
    bool firstPass = true;
    console.SetFetchFailure({});
    for (;;) {
        bool reopen = false;
        std::unique_ptr<HttpFile> response;
        try {
            // Read to the server's close and held against the announced length: the index
            // must arrive whole, or the files of its missing lines would be withdrawn.
            response = console.Session().OpenURL(
                address, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII,
                BodyFraming::UntilClose);
        } catch (const InternetError& error) {
            // The caller's "Connecting with server..." stays; its failure row says the rest.
            console.SetFetchFailure(FetchFailureOf(error));
            return nullptr;
        }
        std::uint32_t status = 0;
        if (response == nullptr || !response->QueryInfoStatusCode(status)) {
            return nullptr;
        }
        // Many servers that answer 401 to an anonymous request take an empty login; only
        // once, so that a later pass goes straight to the question.
        if (firstPass && status == 401) {
            firstPass = false;
            if (!Resend(console, *response, job, status)) {
                return nullptr;
            }
        }
        while (status == 401) {
            std::string user = settings.UserUsername();
            std::string password = settings.UserPassword();
            if (!surface.AskLogin(kLoginInvalid, user, password)) {
                return nullptr;
            }
            job.UserName = std::move(user);
            job.Password = std::move(password);
            // Stored before the server answers, so the next question offers what was typed.
            settings.SetUserUsername(job.UserName);
            settings.SetUserPassword(job.Password);
            if (!Resend(console, *response, job, status)) {
                return nullptr;
            }
            reopen = true;
        }
        if (status >= 400) {
            const std::string text = "HTTP Error " + std::to_string(status);
            surface.SetStatusText(text);
            console.SetFetchFailure({FetchFailure::Kind::HttpStatus, status, text});
            response->Close();
            return nullptr;
        }
        if (!reopen) {
            return response;
        }
        // The caller reads a fresh response, made as the job's later requests will be: with
        // the login that the session now remembers for this server.
        response->Close();
    }
}

bool ApplyRequestCredentials(HttpFile& response, const SyncJob& job) {
    response.SetOption(INTERNET_OPTION_USERNAME, job.UserName);
    response.SetOption(INTERNET_OPTION_PASSWORD, job.Password);
    return true;
}

bool ApplySessionCredentials(InternetSession& session, const SyncJob& job) {
    session.SetOption(INTERNET_OPTION_USERNAME, job.UserName);
    session.SetOption(INTERNET_OPTION_PASSWORD, job.Password);
    return true;
}

bool EditLoginInfo(ConsoleSurface& surface, SettingsStore& settings) {
    std::string user = settings.UserUsername();
    std::string password = settings.UserPassword();
    if (!surface.AskLogin(kLoginEdit, user, password)) {
        return false;
    }
    settings.SetUserUsername(user);
    settings.SetUserPassword(password);
    return true;
}

}  // namespace zephyrate
