#include "app/KeyringPassword.h"

#include <libsecret/secret.h>

#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace {

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

using ContextPtr = std::unique_ptr<GMainContext, ContextUnref>;
using CancellablePtr = std::unique_ptr<GCancellable, ObjectUnref>;
using SourcePtr = std::unique_ptr<GSource, SourceDestroy>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

// Makes the context the one async calls of this thread report to, for the
// lifetime of the object.
class ThreadDefaultContext {
public:
    explicit ThreadDefaultContext(GMainContext* context) : m_context(context) {
        g_main_context_push_thread_default(m_context);
    }
    ~ThreadDefaultContext() { g_main_context_pop_thread_default(m_context); }
    ThreadDefaultContext(const ThreadDefaultContext&) = delete;
    ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;

private:
    GMainContext* m_context;
};

// Shared by the caller and the callback: a callback that comes after the
// caller gave up must still find it.
struct Lookup {
    bool done = false;
    bool found = false;
    std::string password;
    std::string error;
};

void onLookupDone(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::shared_ptr<Lookup>> owner(static_cast<std::shared_ptr<Lookup>*>(data));
    Lookup& lookup = **owner;
    GError* rawError = nullptr;
    gchar* password = secret_password_lookup_finish(result, &rawError);
    const ErrorPtr error(rawError);
    if (password != nullptr) {
        lookup.found = true;
        lookup.password = password;
        secret_password_free(password);
    } else if (error) {
        lookup.error = error->message;
    }
    lookup.done = true;
}

gboolean onTimeout(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

bool sessionBusKnown() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != 0) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    return runtime != nullptr && runtime[0] == '/' &&
           ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// One schema: the lookup runs on a private main context so that the wait
// can end at the deadline whatever the keyring does.
std::shared_ptr<Lookup> lookupOne(const std::string& schemaName, const std::string& application,
                                  int timeoutMs) {
    SecretSchema schema{};
    schema.name = schemaName.c_str();
    schema.flags = SECRET_SCHEMA_NONE;
    schema.attributes[0].name = "application";
    schema.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;

    auto lookup = std::make_shared<Lookup>();
    const ContextPtr context(g_main_context_new());
    const ThreadDefaultContext scope(context.get());
    const CancellablePtr cancellable(g_cancellable_new());
    bool timedOut = false;
    const SourcePtr timer(g_timeout_source_new(static_cast<guint>(timeoutMs)));
    g_source_set_callback(timer.get(), onTimeout, &timedOut, nullptr);
    g_source_attach(timer.get(), context.get());

    secret_password_lookup(&schema, cancellable.get(), onLookupDone,
                           new std::shared_ptr<Lookup>(lookup), "application", application.c_str(),
                           nullptr);
    while (!lookup->done && !timedOut) {
        g_main_context_iteration(context.get(), TRUE);
    }
    if (!lookup->done) {
        g_cancellable_cancel(cancellable.get());
        // A cancelled call reports at once; a keyring that never lets go
        // costs one more second, and then its late answer is dropped.
        timedOut = false;
        g_source_destroy(timer.get());
        const SourcePtr grace(g_timeout_source_new(1000));
        g_source_set_callback(grace.get(), onTimeout, &timedOut, nullptr);
        g_source_attach(grace.get(), context.get());
        while (!lookup->done && !timedOut) {
            g_main_context_iteration(context.get(), TRUE);
        }
        auto answer = std::make_shared<Lookup>();
        answer->error = "no answer within " + std::to_string(timeoutMs / 1000) + " s";
        return answer;
    }
    return lookup;
}

} // namespace

bool lookupKeyringPassword(const std::vector<std::string>& schemas, const std::string& application,
                           int timeoutMs, std::string& password, std::string& problem) {
    password.clear();
    problem.clear();
    if (!sessionBusKnown()) {
        problem = "there is no D-Bus session bus to reach the keyring";
        return false;
    }
    for (const std::string& schema : schemas) {
        const std::shared_ptr<Lookup> lookup = lookupOne(schema, application, timeoutMs);
        if (lookup->found) {
            password = lookup->password;
            return true;
        }
        if (!lookup->error.empty()) {
            problem = "the keyring did not answer (" + lookup->error + ")";
            return false;
        }
    }
    problem = "the keyring holds no password for " + application;
    return false;
}
