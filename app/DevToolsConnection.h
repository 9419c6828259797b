#pragma once

#include "app/ChromiumPipe.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <string>

// One conversation over a browser's DevTools pipe: numbered commands, each
// answered by a message with its number, and events arriving in between.
// An event that arrives while a command waits is kept for nextEvent, so
// that none is lost.
class DevToolsConnection {
public:
    using Json = nlohmann::json;
    using Deadline = ChromiumPipe::Deadline;

    explicit DevToolsConnection(ChromiumPipe& pipe) : m_pipe(pipe) {}

    // Sends the command (to the page's session when session is not empty)
    // and waits for its answer. False with the browser's error message, or
    // with why no answer came.
    bool call(const std::string& method, const Json& params, Json& result, Deadline deadline,
              std::string& problem, const std::string& session = {});

    // Sends a command whose answer nobody waits for.
    bool post(const std::string& method, const Json& params, const std::string& session = {});

    // The next event. False when none came before the deadline, or (with
    // problem set) when the browser went away or sent something that is not
    // a DevTools message.
    bool nextEvent(Json& event, Deadline deadline, std::string& problem);

private:
    int send(const std::string& method, const Json& params, const std::string& session);
    bool receive(Json& message, Deadline deadline, std::string& problem);

    ChromiumPipe& m_pipe;
    int m_nextId = 1;
    std::deque<Json> m_events;
};
