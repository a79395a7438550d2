#include "platform/CurrentUser.h"
#include "platform/OwnerAuthentication.h"

#include <cstdlib>
#include <cstring>
#include <security/pam_appl.h>

using namespace Qt::Literals::StringLiterals;

namespace OwnerAuthentication {

namespace {

// The conversation's answer to every prompt that hides what is typed: the password. PAM frees the
// responses itself (modules overwrite them first); prompts that echo get nothing, since Vantle asks
// for nothing but the password.
int answerWithPassword(int count, const pam_message** messages, pam_response** responses, void* data) {
    if (count <= 0) return PAM_CONV_ERR;
    const auto* password = static_cast<const QByteArray*>(data);
    auto* answers = static_cast<pam_response*>(std::calloc(size_t(count), sizeof(pam_response)));
    if (!answers) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style != PAM_PROMPT_ECHO_OFF) continue;
        answers[i].resp = strndup(password->constData(), size_t(password->size()));
        if (!answers[i].resp) {
            for (int j = 0; j < i; ++j)
                std::free(answers[j].resp);
            std::free(answers);
            return PAM_BUF_ERR;
        }
    }
    *responses = answers;
    return PAM_SUCCESS;
}

int answerNothing(int, const pam_message**, pam_response**, void*) {
    return PAM_CONV_ERR;
}

QString words(pam_handle_t* handle, int status) {
    return QString::fromLocal8Bit(pam_strerror(handle, status));
}

// The failures that say the check itself cannot run, as opposed to a wrong password.
bool isUnavailable(int status) {
    return status == PAM_ABORT || status == PAM_SYSTEM_ERR || status == PAM_SERVICE_ERR ||
           status == PAM_BUF_ERR || status == PAM_OPEN_ERR || status == PAM_SYMBOL_ERR ||
           status == PAM_AUTHINFO_UNAVAIL || status == PAM_CONV_ERR;
}

} // namespace

std::optional<QString> unavailableReason(const char* service) {
    const std::optional<QString> user = CurrentUser::loginName();
    if (!user) return u"this user has no entry in the user database"_s;
    const pam_conv conversation{answerNothing, nullptr};
    pam_handle_t* handle = nullptr;
    // Starting a transaction reads the service's stack and loads its modules; it fails when there is
    // no stack at all.
    const int started = pam_start(service, user->toLocal8Bit().constData(), &conversation, &handle);
    if (started != PAM_SUCCESS) {
        const QString reason = words(handle, started);
        if (handle) pam_end(handle, started);
        return reason;
    }
    pam_end(handle, PAM_SUCCESS);
    return std::nullopt;
}

Verdict check(QByteArray& password, const char* service) {
    Verdict verdict;
    const std::optional<QString> user = CurrentUser::loginName();
    if (!user) {
        password.fill('\0');
        return {Verdict::Outcome::unavailable, u"this user has no entry in the user database"_s};
    }
    const pam_conv conversation{answerWithPassword, &password};
    pam_handle_t* handle = nullptr;
    int status = pam_start(service, user->toLocal8Bit().constData(), &conversation, &handle);
    if (status == PAM_SUCCESS) status = pam_authenticate(handle, PAM_DISALLOW_NULL_AUTHTOK);
    // An expired or locked account is no way in either.
    if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_DISALLOW_NULL_AUTHTOK);
    if (status == PAM_SUCCESS) {
        verdict.outcome = Verdict::Outcome::accepted;
    } else {
        verdict.outcome = isUnavailable(status) ? Verdict::Outcome::unavailable : Verdict::Outcome::refused;
        verdict.description = status == PAM_AUTH_ERR ? u"Wrong password"_s : words(handle, status);
    }
    if (handle) pam_end(handle, status);
    password.fill('\0');
    return verdict;
}

} // namespace OwnerAuthentication
