// trust_root FILE.der: adds the certificate in FILE (DER) to the machine's trusted root
// authorities of the current Wine prefix (or Windows installation), replacing an earlier copy.
// The tests and the demo use it for an authority they made themselves; exit code 0 on success.
#include <windows.h>
#include <wincrypt.h>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_root FILE.der\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "trust_root: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<unsigned char> der;
    unsigned char block[4096];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0 && der.size() < (1u << 20))
        der.insert(der.end(), block, block + count);
    std::fclose(file);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "trust_root: no root store (error %lu)\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (!added)
        std::fprintf(stderr, "trust_root: not added (error %lu)\n", GetLastError());
    CertCloseStore(store, 0);
    return added ? 0 : 1;
}
