#pragma once

#include <functional>
#include <vector>

#include "icmp/EchoProbe.h"

// An echo probe that records every echo sent and answers each with `answer`, by default the destination
// itself after 5 ms. Its send runs on the caller's thread, a page's worker too: read `sent` after the task.
class FakeEchoProbe : public EchoProbe {
public:
    struct Echo {
        std::uint32_t destination;
        int ttl;
        std::chrono::steady_clock::time_point deadline;
        std::vector<std::uint8_t> data;
    };
    std::function<EchoAnswer(const Echo&)> answer = [](const Echo& e) { return EchoAnswer{EchoStatus::Reply, e.destination, 5}; };
    std::vector<Echo> sent;

    EchoAnswer Send(const EchoRequest& r, const CancelToken*) override
    {
        sent.push_back({r.destination, r.ttl, r.deadline, {r.data.begin(), r.data.end()}});
        return answer(sent.back());
    }
};
