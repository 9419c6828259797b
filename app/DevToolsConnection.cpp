#include "app/DevToolsConnection.h"

#include <utility>

int DevToolsConnection::send(const std::string& method, const Json& params,
                             const std::string& session) {
    const int id = m_nextId++;
    Json command = {{"id", id}, {"method", method}, {"params", params}};
    if (!session.empty()) {
        command["sessionId"] = session;
    }
    // Text the page supplied may hold anything; invalid UTF-8 is replaced
    // rather than ending the conversation with an exception.
    return m_pipe.send(command.dump(-1, ' ', false, Json::error_handler_t::replace)) ? id : -1;
}

bool DevToolsConnection::receive(Json& message, Deadline deadline, std::string& problem) {
    std::string text;
    if (!m_pipe.receive(text, deadline, problem)) {
        return false;
    }
    message = Json::parse(text, nullptr, false);
    if (!message.is_object()) {
        problem = "the browser sent something that is not a DevTools message";
        return false;
    }
    return true;
}

bool DevToolsConnection::post(const std::string& method, const Json& params,
                              const std::string& session) {
    return send(method, params, session) > 0;
}

bool DevToolsConnection::call(const std::string& method, const Json& params, Json& result,
                              Deadline deadline, std::string& problem, const std::string& session) {
    const int id = send(method, params, session);
    if (id < 0) {
        problem = "the browser ended";
        return false;
    }
    while (true) {
        Json message;
        if (!receive(message, deadline, problem)) {
            return false;
        }
        if (!message.contains("id")) {
            m_events.push_back(std::move(message));
            continue;
        }
        const Json& answered = message["id"];
        if (!answered.is_number_integer() || answered.get<int>() != id) {
            continue; // the answer to a command posted earlier
        }
        const Json& error = message["error"];
        if (!error.is_null()) {
            const Json& words = error.is_object() ? error["message"] : error;
            problem =
                words.is_string() ? words.get<std::string>() : "the browser refused " + method;
            return false;
        }
        const Json& answer = message["result"];
        result = answer.is_object() ? answer : Json::object();
        return true;
    }
}

bool DevToolsConnection::nextEvent(Json& event, Deadline deadline, std::string& problem) {
    problem.clear();
    while (m_events.empty()) {
        Json message;
        if (!receive(message, deadline, problem)) {
            if (m_pipe.open() && std::chrono::steady_clock::now() >= deadline) {
                problem.clear(); // only the wait is over
            }
            return false;
        }
        if (!message.contains("id")) {
            m_events.push_back(std::move(message));
        }
    }
    event = std::move(m_events.front());
    m_events.pop_front();
    return true;
}
