/* A capture library that is not ours, written against the ABI header, in one
 * of the ways vendor libraries behave. Its one thread signals frames
 * (FOREIGN_FPS per channel) and is never stopped or joined. Built once per variant:
 *   FOREIGN_WELL_BEHAVED   frames while started
 *   FOREIGN_NO_EVENT       GetChannelEvent fails and hands out nothing
 *   FOREIGN_INVALID_EVENT  GetChannelEvent hands out a descriptor that is not open
 *   FOREIGN_NULL_FRAME     after StartChannel, GetChannelFrame fails with no pixels
 *   FOREIGN_UNSTARTED      signals every event whether started or not
 *   FOREIGN_SLOW_SAVE      a new colour every frame; each save takes 1.5 s, as on a slow share */
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include "abi/kesmacap.h"

static int events[4] = {-1, -1, -1, -1};
static volatile int started[4];
static uint8_t pixels[640 * 480 * 3];
static pthread_once_t once = PTHREAD_ONCE_INIT;

static void* produce(void* unused) {
    (void)unused;
    const struct timespec pause = {0, 1000000000L / FOREIGN_FPS};
    for (unsigned frame = 0;; ++frame) {
#ifdef FOREIGN_SLOW_SAVE
        /* Saturated, and never the same twice running. */
        for (size_t i = 0; i < sizeof pixels; ++i)
            pixels[i] = i % 3 == frame % 3 ? (uint8_t)(0x80 + frame * 23 % 0x80) : 0x10;
#else
        (void)frame;
#endif
        for (int channel = 0; channel < 4; ++channel) {
#ifdef FOREIGN_UNSTARTED
            const int signal = 1;
#else
            const int signal = started[channel];
#endif
            if (signal) {
                const uint64_t one = 1;
                if (write(events[channel], &one, sizeof one) < 0) {
                    /* saturated: signalled already */
                }
            }
        }
        nanosleep(&pause, NULL);
    }
    return NULL;
}

static void setUp(void) {
    for (int channel = 0; channel < 4; ++channel) {
        events[channel] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    memset(pixels, 0x80, sizeof pixels);
    pthread_t thread;
    pthread_create(&thread, NULL, produce, NULL);
    pthread_detach(thread);
}

static int32_t valid(uint16_t channel) {
    pthread_once(&once, setUp);
    return channel < 4;
}

static int32_t openChannel(uint16_t channel) {
    return valid(channel) ? 0 : EINVAL;
}
static int32_t stopChannel(uint16_t channel) {
    if (valid(channel))
        started[channel] = 0;
    return 0;
}
static int32_t setFlag(uint16_t channel, int32_t value) {
    (void)value;
    return valid(channel) ? 0 : EINVAL;
}
static int32_t closeChannel(uint16_t channel) {
    return stopChannel(channel);
}
static int32_t getEvent(uint16_t channel, kesmacap_event* event) {
    if (!valid(channel))
        return EINVAL;
#if defined(FOREIGN_NO_EVENT)
    (void)event;
    return EMFILE;
#elif defined(FOREIGN_INVALID_EVENT)
    *event = 1000000 + channel;
    return 0;
#else
    *event = events[channel];
    return 0;
#endif
}
static int32_t setBytes(uint16_t channel, uint8_t bytes) {
    (void)bytes;
    return valid(channel) ? 0 : EINVAL;
}
static int32_t setMode(uint16_t channel, uint8_t mode) {
    (void)mode;
    return valid(channel) ? 0 : EINVAL;
}
static int32_t getFrame(uint16_t channel, uint8_t** out, int32_t* width, int32_t* height, int32_t* sequence) {
    if (!valid(channel))
        return EINVAL;
#ifdef FOREIGN_NULL_FRAME
    if (started[channel]) {
        *out = NULL;
        *width = 640;
        *height = 480;
        return EIO;
    }
#endif
    *out = pixels;
    *width = 640;
    *height = 480;
    *sequence = 0;
    return 0;
}
static int32_t startChannel(uint16_t channel, int32_t value) {
    (void)value;
    if (valid(channel))
        started[channel] = 1;
    return 0;
}
static int32_t queryState(uint16_t channel, int32_t* state) {
    *state = valid(channel) && started[channel] ? 2 : 1;
    return 0;
}
static int32_t save(uint16_t channel, const char* path, uint8_t format, int32_t value) {
    (void)path;
    (void)format;
    (void)value;
#ifdef FOREIGN_SLOW_SAVE
    const struct timespec slow = {1, 500000000L};
    nanosleep(&slow, NULL);
#endif
    return valid(channel) ? 0 : EINVAL;
}

kesmacap_fn kesmacap_proc(uint16_t ordinal) {
    switch (ordinal) {
        case KESMACAP_OPEN_CHANNEL:
            return (kesmacap_fn)openChannel;
        case KESMACAP_STOP_CHANNEL:
            return (kesmacap_fn)stopChannel;
        case KESMACAP_SET_CHANNEL_FLAG:
            return (kesmacap_fn)setFlag;
        case KESMACAP_CLOSE_CHANNEL:
            return (kesmacap_fn)closeChannel;
        case KESMACAP_GET_CHANNEL_EVENT:
            return (kesmacap_fn)getEvent;
        case KESMACAP_SET_CHANNEL_PIXEL_BYTES:
            return (kesmacap_fn)setBytes;
        case KESMACAP_SET_CHANNEL_MODE:
            return (kesmacap_fn)setMode;
        case KESMACAP_GET_CHANNEL_FRAME:
            return (kesmacap_fn)getFrame;
        case KESMACAP_START_CHANNEL:
            return (kesmacap_fn)startChannel;
        case KESMACAP_QUERY_CHANNEL_STATE:
            return (kesmacap_fn)queryState;
        case KESMACAP_SAVE_CHANNEL_PICTURE:
            return (kesmacap_fn)save;
        default:
            return NULL;
    }
}
