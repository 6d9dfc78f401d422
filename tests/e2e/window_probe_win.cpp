// What the Windows end-to-end suite asks of Windows itself, run under Wine:
//   vantrel_window_probe TITLE        prints "topmost" or "normal" for the top-level window of that title: its
//                                     extended styles as Windows holds them (X11 shows only Wine's translation)
//   vantrel_window_probe trust FILE   adds the PEM certificate in FILE to the local machine's trusted roots
#include <windows.h>  // with wincrypt.h

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int printTopmost(const char* title)
{
    const HWND window = FindWindowA(nullptr, title);
    if (!window) {
        std::fputs("no such window\n", stderr);
        return 1;
    }
    const LONG_PTR styles = GetWindowLongPtrA(window, GWL_EXSTYLE);
    std::puts((styles & WS_EX_TOPMOST) ? "topmost" : "normal");
    return 0;
}

int trustRoot(const char* pemFile)
{
    std::ifstream file(pemFile, std::ios::binary);
    const std::string pem{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "no PEM certificate in %s\n", pemFile);
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::fprintf(stderr, "cannot open the root store (error %lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "cannot add the certificate (error %lu)\n", error);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc == 2)
        return printTopmost(argv[1]);
    if (argc == 3 && std::string(argv[1]) == "trust")
        return trustRoot(argv[2]);
    std::fputs("usage: vantrel_window_probe TITLE | vantrel_window_probe trust FILE\n", stderr);
    return 2;
}
