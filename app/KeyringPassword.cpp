#include "app/KeyringPassword.h"

#include <gio/gio.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr const char* kServiceName = "org.freedesktop.secrets";
constexpr const char* kServicePath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kPromptInterface = "org.freedesktop.Secret.Prompt";

struct ContextUnref {
    void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SourceDestroy {
    void operator()(GSource* source) const {
        g_source_destroy(source);
        g_source_unref(source);
    }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
// A private connection is closed by its owner; the keyring then drops the
// session it opened for us.
struct ConnectionClose {
    void operator()(GDBusConnection* connection) const {
        g_dbus_connection_close_sync(connection, nullptr, nullptr); // a local socket: no wait
        g_object_unref(connection);
    }
};

using ContextPtr = std::unique_ptr<GMainContext, ContextUnref>;
using CancellablePtr = std::unique_ptr<GCancellable, ObjectUnref>;
using SourcePtr = std::unique_ptr<GSource, SourceDestroy>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using ConnectionPtr = std::unique_ptr<GDBusConnection, ConnectionClose>;
using ResultPtr = std::unique_ptr<GAsyncResult, ObjectUnref>;

void onReady(GObject*, GAsyncResult* result, gpointer data) {
    static_cast<ResultPtr*>(data)->reset(G_ASYNC_RESULT(g_object_ref(result)));
}

gboolean onDeadline(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

std::string messageOf(GError* error) {
    if (error == nullptr) {
        return "no reason given";
    }
    g_dbus_error_strip_remote_error(error);
    return error->message;
}

// Asynchronous calls on a context of their own, all under one deadline.
// Answers come only while wait() runs the context: a call still out when
// the deadline passes is cancelled and never reports, so nothing it
// holds outlives this object.
class BoundedCalls {
public:
    explicit BoundedCalls(int timeoutMs)
        : m_context(g_main_context_new()), m_cancellable(g_cancellable_new()),
          m_timer(g_timeout_source_new(static_cast<guint>(timeoutMs))) {
        g_main_context_push_thread_default(m_context.get());
        g_source_set_callback(m_timer.get(), onDeadline, &m_expired, nullptr);
        g_source_attach(m_timer.get(), m_context.get());
    }
    ~BoundedCalls() {
        g_cancellable_cancel(m_cancellable.get());
        g_main_context_pop_thread_default(m_context.get());
    }
    BoundedCalls(const BoundedCalls&) = delete;
    BoundedCalls& operator=(const BoundedCalls&) = delete;

    GCancellable* cancellable() const { return m_cancellable.get(); }

    // False when the deadline passed first.
    bool wait(const std::function<bool()>& done) {
        while (!done() && !m_expired) {
            g_main_context_iteration(m_context.get(), TRUE);
        }
        return done();
    }

private:
    ContextPtr m_context;
    CancellablePtr m_cancellable;
    bool m_expired = false;
    SourcePtr m_timer;
};

// The Secret Service's D-Bus interface, spoken over a connection of our
// own rather than the process's shared one: a bus that goes away takes
// nothing with it, and every lookup reaches the bus of its time.
class SecretServiceClient {
public:
    explicit SecretServiceClient(int timeoutMs) : m_calls(timeoutMs) {}

    bool connect(const std::string& address, std::string& problem) {
        ResultPtr result;
        g_dbus_connection_new_for_address(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, m_calls.cancellable(), onReady, &result);
        if (!m_calls.wait([&] { return result != nullptr; })) {
            problem = "the session bus did not answer in time";
            return false;
        }
        GError* rawError = nullptr;
        m_connection.reset(g_dbus_connection_new_for_address_finish(result.get(), &rawError));
        const ErrorPtr error(rawError);
        if (!m_connection) {
            problem = "the session bus cannot be reached: " + messageOf(error.get());
            return false;
        }
        return true;
    }

    // One method call (parameters are consumed); null with the reason.
    VariantPtr call(const char* path, const char* interface, const char* method,
                    GVariant* parameters, const char* replyType, std::string& problem) {
        ResultPtr result;
        g_dbus_connection_call(m_connection.get(), kServiceName, path, interface, method,
                               parameters, G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, -1,
                               m_calls.cancellable(), onReady, &result);
        if (!m_calls.wait([&] { return result != nullptr; })) {
            problem = "the keyring did not answer in time";
            return nullptr;
        }
        GError* rawError = nullptr;
        VariantPtr reply(
            g_dbus_connection_call_finish(m_connection.get(), result.get(), &rawError));
        const ErrorPtr error(rawError);
        if (!reply) {
            problem = "the keyring did not answer (" + messageOf(error.get()) + ")";
        }
        return reply;
    }

    // Shows the keyring's prompt (to unlock it) and waits for the person's
    // answer; false when it was dismissed or the time ran out.
    bool prompt(const std::string& path, std::string& problem) {
        struct Answer {
            bool done = false;
            bool dismissed = false;
        } answer;
        const auto onCompleted = [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                    const gchar*, GVariant* parameters, gpointer data) {
            auto* completed = static_cast<Answer*>(data);
            gboolean dismissed = TRUE;
            g_variant_get_child(parameters, 0, "b", &dismissed);
            completed->dismissed = dismissed != FALSE;
            completed->done = true;
        };
        const guint subscription = g_dbus_connection_signal_subscribe(
            m_connection.get(), nullptr, kPromptInterface, "Completed", path.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, onCompleted, &answer, nullptr);
        const VariantPtr shown =
            call(path.c_str(), kPromptInterface, "Prompt", g_variant_new("(s)", ""), "()", problem);
        const bool answered = shown && m_calls.wait([&] { return answer.done; });
        g_dbus_connection_signal_unsubscribe(m_connection.get(), subscription);
        if (!shown) {
            return false;
        }
        if (!answered || answer.dismissed) {
            problem =
                answered ? "the keyring stayed locked" : "nobody unlocked the keyring in time";
            return false;
        }
        return true;
    }

private:
    BoundedCalls m_calls; // first in, last out: the connection goes before its context
    ConnectionPtr m_connection;
};

std::string childString(GVariant* tuple, gsize index) {
    const VariantPtr child(g_variant_get_child_value(tuple, index));
    return g_variant_get_string(child.get(), nullptr);
}

std::string firstPath(GVariant* paths) {
    if (g_variant_n_children(paths) == 0) {
        return {};
    }
    return childString(paths, 0);
}

// An item that the keyring may keep locked: unlocked, with a prompt when
// the keyring asks for one.
bool unlock(SecretServiceClient& service, const std::string& item, std::string& problem) {
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("ao"));
    g_variant_builder_add(&items, "o", item.c_str());
    const VariantPtr reply = service.call(kServicePath, kServiceInterface, "Unlock",
                                          g_variant_new("(ao)", &items), "(aoo)", problem);
    if (!reply) {
        return false;
    }
    const std::string promptPath = childString(reply.get(), 1);
    return promptPath == "/" || service.prompt(promptPath, problem);
}

// The item of that schema and application; "" when there is none.
bool findItem(SecretServiceClient& service, const std::string& schema,
              const std::string& application, std::string& item, std::string& problem) {
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&attributes, "{ss}", "xdg:schema", schema.c_str());
    g_variant_builder_add(&attributes, "{ss}", "application", application.c_str());
    const VariantPtr reply = service.call(kServicePath, kServiceInterface, "SearchItems",
                                          g_variant_new("(a{ss})", &attributes), "(aoao)", problem);
    if (!reply) {
        return false;
    }
    const VariantPtr unlocked(g_variant_get_child_value(reply.get(), 0));
    const VariantPtr locked(g_variant_get_child_value(reply.get(), 1));
    item = firstPath(unlocked.get());
    if (item.empty()) {
        item = firstPath(locked.get());
        if (!item.empty() && !unlock(service, item, problem)) {
            return false;
        }
    }
    return true;
}

// The secret travels as plain bytes: over a local socket, to this user's
// own keyring, as the protocol's "plain" session allows.
bool readSecret(SecretServiceClient& service, const std::string& session, const std::string& item,
                std::string& secret, std::string& problem) {
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("ao"));
    g_variant_builder_add(&items, "o", item.c_str());
    const VariantPtr reply =
        service.call(kServicePath, kServiceInterface, "GetSecrets",
                     g_variant_new("(aoo)", &items, session.c_str()), "(a{o(oayays)})", problem);
    if (!reply) {
        return false;
    }
    const VariantPtr secrets(g_variant_get_child_value(reply.get(), 0));
    if (g_variant_n_children(secrets.get()) == 0) {
        problem = "the keyring gave no secret for its item";
        return false;
    }
    const VariantPtr entry(g_variant_get_child_value(secrets.get(), 0));
    const VariantPtr value(g_variant_get_child_value(entry.get(), 1));
    const VariantPtr bytes(g_variant_get_child_value(value.get(), 2));
    gsize size = 0;
    const auto* data =
        static_cast<const char*>(g_variant_get_fixed_array(bytes.get(), &size, sizeof(guchar)));
    secret.assign(data != nullptr ? data : "", size);
    return true;
}

std::string sessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != 0) {
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return {};
    }
    const std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return {};
    }
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    const std::string result = std::string("unix:path=") + escaped;
    g_free(escaped);
    return result;
}

} // namespace

bool lookupKeyringPassword(const std::vector<std::string>& schemas, const std::string& application,
                           int timeoutMs, std::string& password, std::string& problem) {
    password.clear();
    problem.clear();
    const std::string address = sessionBusAddress();
    if (address.empty()) {
        problem = "there is no D-Bus session bus to reach the keyring";
        return false;
    }
    SecretServiceClient service(timeoutMs);
    if (!service.connect(address, problem)) {
        return false;
    }
    const VariantPtr session =
        service.call(kServicePath, kServiceInterface, "OpenSession",
                     g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)", problem);
    if (!session) {
        return false;
    }
    const std::string sessionPath = childString(session.get(), 1);
    for (const std::string& schema : schemas) {
        std::string item;
        if (!findItem(service, schema, application, item, problem)) {
            return false;
        }
        if (!item.empty()) {
            return readSecret(service, sessionPath, item, password, problem);
        }
    }
    problem = "the keyring holds no password for " + application;
    return false;
}
