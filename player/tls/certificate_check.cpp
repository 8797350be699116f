#include "tls/certificate_check.h"

#include "tls/certificate_refusal.h"

#include <atomic>
#include <cstring>
#include <gio/gio.h>

static_assert(kCertificateUnknownIssuer == unsigned{G_TLS_CERTIFICATE_UNKNOWN_CA} &&
                  kCertificateWrongName == unsigned{G_TLS_CERTIFICATE_BAD_IDENTITY} &&
                  kCertificateNotYetValid == unsigned{G_TLS_CERTIFICATE_NOT_ACTIVATED} &&
                  kCertificateExpired == unsigned{G_TLS_CERTIFICATE_EXPIRED} &&
                  kCertificateRevoked == unsigned{G_TLS_CERTIFICATE_REVOKED} &&
                  kCertificateInsecure == unsigned{G_TLS_CERTIFICATE_INSECURE},
              "certificate problems are GIO's own bits");

namespace {

// The problems of the last certificate refused. Written on the HTTP
// source's own thread during the handshake, read on the main thread once
// the source's error has come through the bus (after the write).
std::atomic<unsigned> refused_problems{0};

// The system's trust store, made on the first check (loading it reads the
// whole CA bundle: a run that never meets TLS should not pay for that).
// Lives until exit, like the database below.
GTlsDatabase *system_database() {
    static gsize once = 0;
    if (g_once_init_enter(&once)) {
        GTlsDatabase *database = nullptr;
        if (GTlsBackend *backend = g_tls_backend_get_default())
            database = g_tls_backend_get_default_database(backend);
        g_once_init_leave(&once, reinterpret_cast<gsize>(database) | 1);
    }
    return reinterpret_cast<GTlsDatabase *>(once & ~static_cast<gsize>(1));
}

struct CheckingDatabase {
    GTlsDatabase parent;
};
struct CheckingDatabaseClass {
    GTlsDatabaseClass parent_class;
};

G_DEFINE_TYPE(CheckingDatabase, checking_database, G_TYPE_TLS_DATABASE)

GTlsCertificateFlags verify_chain(GTlsDatabase *, GTlsCertificate *chain, const gchar *purpose,
                                  GSocketConnectable *identity, GTlsInteraction *interaction,
                                  GTlsDatabaseVerifyFlags flags, GCancellable *cancellable,
                                  GError **error) {
    GTlsDatabase *system = system_database();
    // Without a trust store nothing can be trusted (as GIO itself decides).
    GTlsCertificateFlags problems = G_TLS_CERTIFICATE_UNKNOWN_CA;
    if (system)
        problems = g_tls_database_verify_chain(system, chain, purpose, identity, interaction, flags,
                                               cancellable, error);
    if (problems)
        refused_problems.store(problems);
    return problems;
}

gchar *create_certificate_handle(GTlsDatabase *, GTlsCertificate *certificate) {
    GTlsDatabase *system = system_database();
    return system ? g_tls_database_create_certificate_handle(system, certificate) : nullptr;
}

GTlsCertificate *lookup_certificate_for_handle(GTlsDatabase *, const gchar *handle,
                                               GTlsInteraction *interaction,
                                               GTlsDatabaseLookupFlags flags,
                                               GCancellable *cancellable, GError **error) {
    GTlsDatabase *system = system_database();
    return system ? g_tls_database_lookup_certificate_for_handle(system, handle, interaction, flags,
                                                                 cancellable, error)
                  : nullptr;
}

GTlsCertificate *lookup_certificate_issuer(GTlsDatabase *, GTlsCertificate *certificate,
                                           GTlsInteraction *interaction,
                                           GTlsDatabaseLookupFlags flags, GCancellable *cancellable,
                                           GError **error) {
    GTlsDatabase *system = system_database();
    return system ? g_tls_database_lookup_certificate_issuer(system, certificate, interaction,
                                                             flags, cancellable, error)
                  : nullptr;
}

GList *lookup_certificates_issued_by(GTlsDatabase *, GByteArray *issuer,
                                     GTlsInteraction *interaction, GTlsDatabaseLookupFlags flags,
                                     GCancellable *cancellable, GError **error) {
    GTlsDatabase *system = system_database();
    return system ? g_tls_database_lookup_certificates_issued_by(system, issuer, interaction, flags,
                                                                 cancellable, error)
                  : nullptr;
}

// The asynchronous forms are GIO's defaults, which run these in a thread.
void checking_database_class_init(CheckingDatabaseClass *klass) {
    GTlsDatabaseClass *database = G_TLS_DATABASE_CLASS(klass);
    database->verify_chain = verify_chain;
    database->create_certificate_handle = create_certificate_handle;
    database->lookup_certificate_for_handle = lookup_certificate_for_handle;
    database->lookup_certificate_issuer = lookup_certificate_issuer;
    database->lookup_certificates_issued_by = lookup_certificates_issued_by;
}

void checking_database_init(CheckingDatabase *) {}

// The HTTP source itself, or an adaptive demuxer (HLS), which reposts the
// error of the source it made for a playlist or fragment as its own.
bool from_http_source(GstMessage *message) {
    GstObject *origin = GST_MESSAGE_SRC(message);
    if (!origin || !GST_IS_ELEMENT(origin))
        return false;
    GstElementFactory *factory = gst_element_get_factory(GST_ELEMENT(origin));
    if (!factory)
        return false;
    if (strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "souphttpsrc") == 0)
        return true;
    const gchar *klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass && strstr(klass, "Demuxer/Adaptive");
}

} // namespace

void check_station_certificates(GstElement *source) {
    // One database for every source of the run; it lives until exit. Sources
    // the HLS demuxer makes arrive on its own thread.
    static gsize database = 0;
    if (g_once_init_enter(&database))
        g_once_init_leave(&database, reinterpret_cast<gsize>(
                                         g_object_new(checking_database_get_type(), nullptr)));
    g_object_set(G_OBJECT(source), "tls-database", reinterpret_cast<gpointer>(database), nullptr);
}

bool describe_station_certificate_error(GstMessage *error, char *out, std::size_t out_len) {
    unsigned problems = refused_problems.load();
    if (!problems || !from_http_source(error))
        return false;
    describe_certificate_refusal(problems, out, out_len);
    return true;
}
