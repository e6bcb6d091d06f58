#include "platform/system_logon.h"

#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr const char* kPamService = "velto";

// Answers every prompt that hides its echo with the password; visible prompts
// get the user name; notices get nothing.
int Conversation(int count, const pam_message** messages, pam_response** responses, void* data) {
  if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
  auto* replies = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
  if (replies == nullptr) return PAM_BUF_ERR;
  const auto* password = static_cast<const std::string*>(data);
  for (int i = 0; i < count; ++i) {
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF:
        replies[i].resp = ::strdup(password->c_str());
        break;
      case PAM_PROMPT_ECHO_ON:
      case PAM_ERROR_MSG:
      case PAM_TEXT_INFO:
      default:
        replies[i].resp = nullptr;
        break;
    }
  }
  *responses = replies;
  return PAM_SUCCESS;
}

void NoDelay(int, unsigned, void*) {}

}  // namespace

bool SystemLogonCheck(const std::string& user, const std::string& password) {
  if (user.empty() || user.find('\0') != std::string::npos || password.find('\0') != std::string::npos) return false;
  pam_conv conv{&Conversation, const_cast<std::string*>(&password)};
  pam_handle_t* handle = nullptr;
  if (::pam_start(kPamService, user.c_str(), &conv, &handle) != PAM_SUCCESS) return false;
  ::pam_set_item(handle, PAM_FAIL_DELAY, reinterpret_cast<const void*>(&NoDelay));
  int rc = ::pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (rc == PAM_SUCCESS) rc = ::pam_acct_mgmt(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  ::pam_end(handle, rc);
  return rc == PAM_SUCCESS;
}

}  // namespace platform
