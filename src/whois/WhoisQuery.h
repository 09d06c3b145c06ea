#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "os/Fd.h"
#include "whois/WhoisAnswer.h"

class CancelToken;

// Address queries start at the American registry, which refers onwards.
inline constexpr std::string_view kAddressWhoisServer = "whois.arin.net";
// Referrals followed at most in one address query.
inline constexpr int kWhoisMaxReferrals = 8;

enum class WhoisStatus {
    Ok,
    Cancelled,      // the task was stopped; nothing is shown
    InvalidDomain,  // a table look-up of a query without "."
    QueryTooLong,   // the query line does not fit its area
    SocketFailed,
    ConnectFailed,  // also an unknown server name or an unusable port
    SendFailed,
    ReceiveFailed,
    AnswerTooLong,
};

// A query as the controls gave it when QUERY was pressed: the server the user
// chose, or none to let the query's kind choose.
struct WhoisRequest {
    std::string query;
    std::optional<std::string> chosenServer;
};

// The whois command that asks the server this query asks first (the address
// registry, the chosen server or the table's). Empty when no server would be asked.
std::string WhoisCommandLine(const WhoisRequest& request);

// The message shown for a failure; empty for Ok and Cancelled.
std::string_view WhoisStatusText(WhoisStatus status);

// Where a query's results go: the page, or a test.
class WhoisOutput {
public:
    virtual ~WhoisOutput() = default;
    virtual void ClearOutput() = 0;                     // before each answer of an address query
    virtual void ShowAnswer(std::string_view text) = 0;  // replaces the whole output
    virtual void ShowFailure(WhoisStatus status) = 0;    // one message box; the output stays
};

// Every wait of a query watches token; the limits end a server that stays
// silent or trickles its answer (either reads as a failed receive).
struct WhoisWaits {
    const CancelToken* token = nullptr;
    std::chrono::milliseconds connectTimeout{30000};
    std::chrono::milliseconds answerTimeout{60000};  // longest silence while sending or receiving
    std::chrono::milliseconds answerLimit{180000};   // one answer from its query on, however it trickles
};

// One TCP connection to a whois server, step by step. Closing shuts down the
// sending side first, then closes the socket.
class WhoisConnection {
public:
    explicit WhoisConnection(const WhoisWaits& waits) : waits_(waits) {}
    ~WhoisConnection();
    WhoisConnection(const WhoisConnection&) = delete;
    WhoisConnection& operator=(const WhoisConnection&) = delete;

    // To each address of the server in turn (IPv4 ones first) until one
    // answers. SocketFailed, ConnectFailed or Cancelled on failure; the socket
    // is closed then.
    WhoisStatus Connect(const WhoisServer& server);
    // SendFailed or Cancelled on failure; the socket is closed then.
    WhoisStatus Send(std::string_view line);
    // Reads until the server closes, in large reads, and closes the socket.
    // ReceiveFailed for a failed read, AnswerTooLong once kWhoisAnswerSize
    // bytes have come; answer then holds nothing.
    WhoisStatus Receive(std::string& answer);
    void Close();

private:
    const WhoisWaits& waits_;
    Fd fd_;
    std::chrono::steady_clock::time_point answerDeadline_ = std::chrono::steady_clock::time_point::max();
};

// A domain query: to chosenServer when given (the user's choice), otherwise
// to the table's server for the query's last label; port 43 but for tests.
// The answer replaces the output; a failure is shown instead.
WhoisStatus QueryDomainWhois(std::string_view query, const std::optional<std::string>& chosenServer,
                             WhoisOutput& output, const WhoisWaits& waits, int port = kWhoisPort);

// An address query (an IPv6 one without brackets): "+ query" to the first server, then the bare query to each
// server a referral names, until an answer names none, names a server already
// asked in this query, or kWhoisMaxReferrals referrals have been followed. The
// output is emptied before each answer and shows only the last one.
WhoisStatus QueryAddressWhois(std::string_view query, WhoisOutput& output, const WhoisWaits& waits,
                              const WhoisServer& first = {std::string(kAddressWhoisServer), kWhoisPort});
