#include "repeater_wps_client.h"

#include "pid_file.h"
#include "shared.h"
#include "survey_reply.h"
#include "wsc_status.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int orig_ch;
char wsc_file_name[kWscFileNameSize];

namespace {

constexpr int kSiteSurveyTrigger = SIOCIWFIRSTPRIV + 2;
constexpr int kSiteSurveyResult = SIOCIWFIRSTPRIV + 13;
// The platform lock other firmware parts take around their own surveys.
constexpr int kSurveyLock = 1;
constexpr unsigned kSurveySettleSeconds = 3;

// Carries the trigger text, then the reply, then the two formatted settings.
// Static: a detached daemon has no business keeping 8 KB on its stack.
char survey_buf[kSurveyBufferSize];

// The push-button enrolment settings for the client interface. The driver
// is sensitive to their order: keep it, ApCliEnable=1 sent twice on purpose
// and the SSID last.
const char *const kClientSettings[] = {
    "ApCliEnable=1", "WscConfMode=1", "WscMode=2", "WscGetConf=1", "WscStatus=1", "ApCliEnable=1",
};

enum class Survey { Chosen, Again, Failed };

void point_at_buffer(struct iwreq *wrq, uint16_t length) {
    memset(wrq, 0, sizeof *wrq);
    wrq->u.data.pointer = survey_buf;
    wrq->u.data.length = length;
    wrq->u.data.flags = 0;
}

Survey survey_once(const char *ap_if, PbcAp *ap) {
    struct iwreq wrq;
    static const char kTrigger[] = "SiteSurvey=1";
    memcpy(survey_buf, kTrigger, sizeof kTrigger);
    point_at_buffer(&wrq, static_cast<uint16_t>(sizeof kTrigger));

    (void)spinlock_lock(kSurveyLock);
    const int rc = wl_ioctl(ap_if, kSiteSurveyTrigger, &wrq);
    (void)spinlock_unlock(kSurveyLock);
    if (rc < 0) {
        fputs("Site Survey fails\n", stderr);
        return Survey::Failed;
    }
    fputs("WPS site survey~\n", stderr);
    // The driver scans every channel before its table is worth reading.
    for (unsigned i = 0; i < kSurveySettleSeconds; ++i)
        (void)sleep(1);

    memset(survey_buf, 0, sizeof survey_buf);
    point_at_buffer(&wrq, static_cast<uint16_t>(sizeof survey_buf));
    if (wl_ioctl(ap_if, kSiteSurveyResult, &wrq) < 0) {
        fputs("errors in getting site survey result\n", stderr);
        return Survey::Failed;
    }
    return choose_pbc_ap(survey_buf, sizeof survey_buf, wrq.u.data.length, ap, trim_r)
               ? Survey::Chosen
               : Survey::Again;
}

void configure_client(const char *ap_if, const char *client_if, const PbcAp &ap) {
    fprintf(stderr, "Got PBC AP, SSID:[%s],channel[%d]\n", ap.ssid, ap.channel);
    if (ap.channel == orig_ch) {
        fprintf(stderr, "Org CH is the same[%d]\n", ap.channel);
    } else {
        snprintf(survey_buf, sizeof survey_buf, "Channel=%d", ap.channel);
        (void)ap_set(ap_if, survey_buf);
    }
    for (const char *setting : kClientSettings)
        (void)ap_set(client_if, setting);
    // An SSID has at most 32 characters: this always fits.
    snprintf(survey_buf, sizeof survey_buf, "ApCliSsid=%s", ap.ssid);
    (void)ap_set(client_if, survey_buf);
}

} // namespace

void repeater_wps_client(const char *ap_if, const char *client_if) {
    // Keep standard error open: the starter reads the client's messages.
    (void)daemon(0, 1);

    const char *pid_path = pid_file_path(ap_if);
    if (!write_pid_file(pid_path, getpid())) {
        perror(pid_path);
        return;
    }

    (void)writefile(wsc_file_name, "3");

    // No limit: the user may press the button on the access point at any time.
    PbcAp ap;
    for (;;) {
        const Survey s = survey_once(ap_if, &ap);
        if (s == Survey::Failed)
            return;
        if (s == Survey::Chosen)
            break;
    }

    configure_client(ap_if, client_if, ap);
    watch_wsc_status(client_if, wsc_file_name);
}
