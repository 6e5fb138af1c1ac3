// JPEG, PNG and atomic file writing on Linux.
#include "kesmacap/pictures/PictureWriter.h"

#include <fcntl.h>
#include <png.h>
#include <pthread.h>
#include <signal.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <memory>

namespace kesmacap {

namespace {

// libpng reports errors by longjmp; only plain data lives in this frame.
void appendPngData(png_structp png, png_bytep data, png_size_t length) {
    auto* const out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

bool writePng(png_structp png, png_infop info, const PictureView& picture, std::vector<std::uint8_t>* out) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(png, out, appendPngData, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < picture.height; ++y) {
        png_write_row(png, const_cast<png_bytep>(picture.row(y)));
    }
    png_write_end(png, info);
    return true;
}

// Writing past RLIMIT_FSIZE raises SIGXFSZ, which would end the host
// process. Held back in this thread for the write, the write fails with EFBIG
// instead and the signal it raised is taken off before the mask goes back.
class FileSizeSignalHeld {
  public:
    FileSizeSignalHeld() {
        sigemptyset(&held_);
        sigaddset(&held_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &held_, &previous_);
    }
    ~FileSizeSignalHeld() {
        const timespec now{0, 0};
        while (sigtimedwait(&held_, nullptr, &now) == SIGXFSZ) {
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

  private:
    sigset_t held_;
    sigset_t previous_;
};

std::int32_t writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    const FileSizeSignalHeld held;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

}  // namespace

const std::string_view PathSeparators = "/";

std::int32_t FileNameFromLibraryPath(std::string_view path, std::string& name) {
    // File names are bytes here; the library passes them on as they came.
    name.assign(path);
    return 0;
}

std::int32_t EncodeJpeg(const PictureView& picture, int quality, std::vector<std::uint8_t>& out) {
    if (!EncodablePicture(picture)) {
        return EINVAL;
    }
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    if (!compressor) {
        return ENOMEM;
    }
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    // BGR is one of libjpeg-turbo's input layouts: no conversion pass of our own.
    const int failed = tjCompress2(compressor.get(), picture.pixels, picture.width, 0, picture.height,
                                   TJPF_BGR, &jpeg, &jpegSize, TJSAMP_420, std::clamp(quality, 1, 100), 0);
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, tjFree);
    if (failed != 0) {
        return EIO;
    }
    out.assign(jpeg, jpeg + jpegSize);
    return 0;
}

std::int32_t EncodePng(const PictureView& picture, std::vector<std::uint8_t>& out) {
    if (!EncodablePicture(picture)) {
        return EINVAL;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return ENOMEM;
    }
    png_infop info = png_create_info_struct(png);
    out.clear();
    const bool written = info != nullptr && writePng(png, info, picture, &out);
    png_destroy_write_struct(&png, &info);
    return written ? 0 : EIO;
}

std::int32_t WriteFileAtomically(const std::string& file, const std::vector<std::uint8_t>& bytes) {
    if (file.empty() || file.back() == '/') {
        return EINVAL;
    }
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryNameFor(file, static_cast<unsigned long>(getpid()));
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return errno;
        }
    }
    if (fd < 0) {
        return EEXIST;
    }
    std::int32_t error = writeAll(fd, bytes);
    if (error == 0 && fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && rename(temporary.c_str(), file.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
    }
    return error;
}

}  // namespace kesmacap
