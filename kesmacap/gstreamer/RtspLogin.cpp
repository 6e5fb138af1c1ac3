#include "kesmacap/gstreamer/RtspLogin.h"

#include <gst/rtsp/gstrtspconnection.h>

#include <algorithm>
#include <cctype>

namespace kesmacap {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The value of `name=` in a challenge, unquoted; empty when absent.
std::string parameter(const std::string& challenge, const std::string& name) {
    for (auto at = challenge.find(name + "="); at != std::string::npos;
         at = challenge.find(name + "=", at + 1)) {
        if (at > 0 && std::isalnum(static_cast<unsigned char>(challenge[at - 1])) != 0) {
            continue;  // "xalgorithm=" is not "algorithm="
        }
        std::string value = challenge.substr(at + name.size() + 1);
        if (!value.empty() && value.front() == '"') {
            return value.substr(1, value.find('"', 1) - 1);
        }
        return value.substr(0, value.find_first_of(", \t"));
    }
    return {};
}

}  // namespace

std::string LoginRefusal(const std::vector<std::string>& challenges, bool gaveCredentials) {
    if (!gaveCredentials) {
        return "the camera wants a user name and password (user:password@ in the URI)";
    }
    // GStreamer 1.22's RTSP client answers Basic, and Digest with MD5 and no qop.
    std::string cannot;
    for (const std::string& challenge : challenges) {
        const std::string text = lower(challenge);
        const std::string algorithm = parameter(text, "algorithm");
        const bool md5 = algorithm.empty() || algorithm == "md5";
        const bool qop = !parameter(text, "qop").empty();
        if (text.rfind("basic", 0) == 0 || (text.rfind("digest", 0) == 0 && md5 && !qop)) {
            return "the camera refused the user name or password";
        }
        if (cannot.empty()) {
            cannot = text.rfind("digest", 0) == 0
                         ? "Digest" + (md5 ? std::string() : " " + parameter(challenge, "algorithm")) +
                               (qop ? " with qop" : "")
                         : challenge.substr(0, challenge.find(' '));
        }
    }
    if (cannot.empty()) {
        return "the camera refused the user name or password";
    }
    return "the camera asks for " + cannot + " authentication, which GStreamer's RTSP client cannot answer";
}

std::vector<std::string> AskChallenges(const std::string& uri, int seconds) {
    std::vector<std::string> challenges;
    GstRTSPUrl* url = nullptr;
    if (gst_rtsp_url_parse(uri.c_str(), &url) != GST_RTSP_OK) {
        return challenges;
    }
    GstRTSPConnection* connection = nullptr;
    GstRTSPMessage* request = nullptr;
    GstRTSPMessage response = {};
    const gint64 limit = gint64{seconds} * G_USEC_PER_SEC;
    if (gst_rtsp_connection_create(url, &connection) == GST_RTSP_OK &&
        gst_rtsp_connection_connect_usec(connection, limit) == GST_RTSP_OK &&
        gst_rtsp_message_new_request(&request, GST_RTSP_DESCRIBE, uri.c_str()) == GST_RTSP_OK) {
        gst_rtsp_message_add_header(request, GST_RTSP_HDR_CSEQ, "1");
        gst_rtsp_message_add_header(request, GST_RTSP_HDR_ACCEPT, "application/sdp");
        gst_rtsp_message_init(&response);
        if (gst_rtsp_connection_send_usec(connection, request, limit) == GST_RTSP_OK &&
            gst_rtsp_connection_receive_usec(connection, &response, limit) == GST_RTSP_OK) {
            gchar* value = nullptr;
            for (gint i = 0; gst_rtsp_message_get_header(&response, GST_RTSP_HDR_WWW_AUTHENTICATE, &value,
                                                         i) == GST_RTSP_OK;
                 ++i) {
                challenges.emplace_back(value);
            }
        }
        gst_rtsp_message_unset(&response);
    }
    if (request != nullptr) {
        gst_rtsp_message_free(request);
    }
    if (connection != nullptr) {
        gst_rtsp_connection_close(connection);
        gst_rtsp_connection_free(connection);
    }
    gst_rtsp_url_free(url);
    return challenges;
}

}  // namespace kesmacap
