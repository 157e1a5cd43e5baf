#include "platform/HttpFile.h"

#include "platform/CurlTransfer.h"
#include "platform/HttpDate.h"

namespace zephyrate {

HttpFile::HttpFile(std::unique_ptr<CurlTransfer> transfer) : transfer_(std::move(transfer)) {}

HttpFile::~HttpFile() = default;

bool HttpFile::QueryInfoStatusCode(std::uint32_t& status) const {
    if (!transfer_->HasResponse()) {
        return false;
    }
    status = transfer_->Status();
    return true;
}

bool HttpFile::QueryInfoLastModified(SYSTEMTIME& time) const {
    auto value = transfer_->FindHeader("Last-Modified");
    if (!value) {
        return false;
    }
    auto parsed = ParseHttpDate(*value);
    if (!parsed) {
        return false;
    }
    time = *parsed;
    return true;
}

bool HttpFile::QueryInfoContentLength(std::uint32_t& length) const {
    const std::optional<std::uint64_t> announced = transfer_->ContentLength();
    if (!announced) {
        return false;
    }
    length = static_cast<std::uint32_t>(*announced);  // the device's lengths are 32 bits too
    return true;
}

bool HttpFile::SetOption(std::uint32_t option, std::string_view text) {
    switch (option) {
        case INTERNET_OPTION_USERNAME:
            transfer_->SetRequestUser(text);
            return true;
        case INTERNET_OPTION_PASSWORD:
            transfer_->SetRequestPassword(text);
            return true;
        default:
            return false;
    }
}

void HttpFile::SendRequest() {
    transfer_->Send();
}

void HttpFile::SeekToBegin() {
    if (transfer_->BodyTouched()) {
        transfer_->Send();
    }
}

std::size_t HttpFile::Read(void* buffer, std::size_t count) {
    return transfer_->Read(buffer, count);
}

void HttpFile::Close() {
    transfer_->Finish();
}

const std::string& HttpFile::Url() const {
    return transfer_->Url();
}

}  // namespace zephyrate
