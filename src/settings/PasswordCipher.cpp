#include "settings/PasswordCipher.h"

#include <gcrypt.h>

#include <cstring>

#include "core/Trace.h"

namespace {

constexpr char kPassPhrase[] = "plomkartesvn";

bool CipherLibraryReady() {
    static const bool ready = [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
            return false;
        }
        // Someone else may have set the library up already.
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) == 0) {
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
        return true;
    }();
    return ready;
}

// RC4 is its own inverse: one routine serves both directions.
int Rc4InPlace(unsigned char* data, std::size_t length) {
    if (!CipherLibraryReady()) {
        return -1;
    }
    gcry_md_hd_t hash = nullptr;
    if (gcry_md_open(&hash, GCRY_MD_MD5, 0) != 0) {
        return -1; // MD5 refused (a FIPS system)
    }
    gcry_md_write(hash, kPassPhrase, sizeof kPassPhrase - 1);
    unsigned char key[16];
    std::memcpy(key, gcry_md_read(hash, GCRY_MD_MD5), sizeof key);
    gcry_md_close(hash);

    gcry_cipher_hd_t cipher = nullptr;
    if (gcry_cipher_open(&cipher, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0) != 0) {
        return -1;
    }
    int result = -1;
    if (gcry_cipher_setkey(cipher, key, sizeof key) == 0 &&
        (length == 0 || gcry_cipher_encrypt(cipher, data, length, nullptr, 0) == 0)) {
        result = static_cast<int>(length);
    }
    gcry_cipher_close(cipher);
    return result;
}

} // namespace

int CryptPassword(char* buffer, int bufferSize) {
    QM_TRACE("Quavermill");
    if (buffer == nullptr || bufferSize <= 0) {
        QM_RETURN(0, -1);
    }
    const std::size_t length = strnlen(buffer, static_cast<std::size_t>(bufferSize));
    QM_RETURN(1, Rc4InPlace(reinterpret_cast<unsigned char*>(buffer), length));
}

int DecryptPassword(char* data, int length) {
    QM_TRACE("Quavermill");
    if (data == nullptr || length < 0) {
        QM_RETURN(0, -1);
    }
    QM_RETURN(1,
              Rc4InPlace(reinterpret_cast<unsigned char*>(data), static_cast<std::size_t>(length)));
}
