// What FFmpeg's answers mean for a camera's life, as pure rules: which errors
// are worth trying again, what the end of a source is, which sources are
// live, and how small a decoder may make a picture.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kesmacap/card/SourceLife.h"

namespace kesmacap {

// An AVERROR code in words: the network's errors in our own, the same on
// every system (mingw-w64's C library knows none of the socket errors, which
// FFmpeg then shows as "Error number -138 occurred"), the rest in FFmpeg's.
std::string ErrorText(int error);

// An error (an AVERROR code) from opening or reading a source. detail:
// FFmpeg's text for it, or the codec's name for AVERROR_DECODER_NOT_FOUND;
// credentials: whether the source was given a user name or password;
// scheme: the source's, as written, named in the advice.
// LoginRefused for credentials refused (RTSP's and HTTP's 401); Refused,
// with advice, for what no retry can mend (no protocol, no decoder, no
// video, a camera that wants credentials it was not given); Error for the
// rest (a 403, a network, a server, a file that may come back).
SourceEvent EventForError(int error, const std::string& detail, bool credentials, const std::string& scheme);

// A refused RTSP login (LoginRefused, credentials given) in the light of the
// camera's WWW-Authenticate challenges: still a refused login when FFmpeg's
// client can answer one of them (the password is wrong), else Refused, naming
// the way of logging in it cannot answer (Digest with SHA-256), so that no
// login is spent on it again until the next start.
SourceEvent EventForLogin(const SourceEvent& refused, const std::vector<std::string>& challenges);

// Whether a source's pictures are made as they come (a camera: shown at
// once, lost at their end) rather than recorded (paced by their timestamps,
// played again at their end): by its demuxer's name (RTSP, RTP, multipart
// JPEG) or, for a stream pushed to a socket (MPEG-TS over UDP, say), by the
// source's scheme.
bool IsLive(std::string_view format, std::string_view scheme);

// A source with nothing more to read: a live one is lost, a recording has
// ended, to be sought back to its start where its bytes can be sought.
SourceEvent EventForEnd(std::string_view format, std::string_view scheme, bool seekable);

// Whether an error from avcodec_send_packet or avcodec_receive_frame ends
// the stream: running out of memory, and a feature the decoder lacks
// (PATCHWELCOME, ENOSYS), which holds for the whole stream and is said. A
// packet the decoder cannot take otherwise (damaged by a lost UDP packet) is
// dropped, as players do, and decoding goes on with the next one; a stream
// that never gives a picture again is lost by the silence watch.
bool DecoderErrorEndsStream(int error);

// The lowres a decoder that can make pictures at most 2^maxLowres times
// smaller is to take for a width x height picture whose pixels are
// aspectNum:aspectDen wide: the smallest picture, down to a quarter, still as
// large as its place in the frame.
int LowresFor(int width, int height, int aspectNum, int aspectDen, int maxLowres);

// Whether two URLs lead to the same scheme, host and port: where a
// password given for `named` may go. rtsp, rtspt and rtspu count as one
// scheme; a missing port is the scheme's own (RTSP's 554). User info, case
// in scheme and host, and paths make no difference; a URL not understood
// is another origin.
bool SameOrigin(std::string_view named, std::string_view other);

}  // namespace kesmacap
