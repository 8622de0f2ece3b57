package com.ZEB;

/**
 * The QuorvantATL component for Java programs: one native method per
 * operation of the component, each calling the library's flat export of the
 * same operation. Every instance, and every native caller in the process,
 * shares the library's one engine and so its result code.
 *
 * <p>The rules that hold for every method:
 * <ul>
 * <li>After a call, {@link #GetErrorCode()} gives its result code (0 is
 *     success) and {@link #GetErrorMsg()} its message; {@link
 *     #GetCapiErrorCode()} gives the system error number behind a failure.
 * <li>A {@code null} String argument means the operation is not called: the
 *     method returns -1 (an {@code int} method) or {@code null} (a String
 *     method) and the result code stays as the previous call left it.
 * <li>An empty String argument is passed on; the operation reports what it
 *     makes of it (typically 5005).
 * <li>A String argument holding the character U+0000 cannot be passed to
 *     the library: it is refused with result code 5005, and the method
 *     returns 5005 (an {@code int} method) or {@code null}.
 * <li>A String method returns {@code null} both for a failure and for an
 *     empty result: read {@link #GetErrorCode()} to tell them apart.
 * <li>The engine is not meant to be called from two threads at once.
 * </ul>
 *
 * <p>The library is loaded when the class is initialised: from the path in
 * the system property {@code quorvant.library} when it is set, else as
 * {@code QuorvantATL} from {@code java.library.path}. The class needs no
 * display.
 */
public class QuorvantApplet {
    static {
        String path = System.getProperty("quorvant.library");
        if (path != null && !path.isEmpty()) {
            System.load(path);
        } else {
            System.loadLibrary("QuorvantATL");
        }
    }

    public QuorvantApplet() {
    }

    /** The library's file version, "4.2.0.0"; null when unreadable (code 5004). */
    public native String GetVersion();

    /** The result code of the last operation; touches no code itself. */
    public native int GetErrorCode();

    /** The message of the current result code; touches no code itself. */
    public native String GetErrorMsg();

    /** The system error number behind the last failure, or 0. */
    public native int GetCapiErrorCode();

    /** The system's text for {@link #GetCapiErrorCode()}; null when it has none. */
    public native String GetCapiErrorMsg();

    /** The network adapters' hardware addresses; null on failure (see GetErrorCode). */
    public native String GetMacAddress();

    /** The operating system's name. */
    public native String GetOSName();

    /** The user's home folder. */
    public native String GetUserHomePath();

    /**
     * A value under HKEY_CURRENT_USER named "key\\path\\valueName"; null when
     * absent or on failure (see GetErrorCode). Null argument: null, code kept.
     */
    public native String RegReadHKCU(String strName);

    /** Writes a DWORD under HKEY_CURRENT_USER; returns the result code (-1 for a null name). */
    public native int RegWriteHKCUInt(String strName, int dw);

    /** Writes a string under HKEY_CURRENT_USER; returns the result code (-1 for a null argument). */
    public native int RegWriteHKCUStr(String strName, String str);

    /** A value under HKEY_LOCAL_MACHINE, as {@link #RegReadHKCU(String)}. */
    public native String RegReadHKLM(String strName);

    /**
     * The digest of the text as upper-case hex: its UTF-16LE units, or with
     * flag 0x10 its bytes in the component's code page; the low bits choose
     * the algorithm (1 MD5, 3 SHA-256, 4 SHA-512, else SHA-1). Null on
     * failure (see GetErrorCode; 5005 for empty text). Null text: null, code kept.
     */
    public native String Hash(String strPlainText, int dwFlags);

    /** The digest of a file, flags as for Hash; null on failure (see GetErrorCode). */
    public native String HashFile(String strFileName, int dwFlags);

    /** Chooses the key provider for enrolment; returns the result code (-1 for null). */
    public native int SetProviderName(String strProviderName);

    /** A new key pair and its PKCS #10 request in Base64; null on failure (see GetErrorCode). */
    public native String CreatePKCS10(String commonName, int keyBits, int genKeyFlags);

    /** New signing and encryption key pairs with their requests; returns the result code. */
    public native int CreatePKCS10Pair(String commonName, int keyBits, int genKeyFlags);

    /** The signing request of the last CreatePKCS10Pair; null when none. */
    public native String GetCsrForSign();

    /** The encryption request of the last CreatePKCS10Pair; null when none. */
    public native String GetCsrForEncrypt();

    /** Installs the issued certificates of a PKCS #7 reply; returns the result code. */
    public native int AcceptPKCS7(String strPkcs7);

    /** The file name PFX dialogs propose; returns the result code (-1 for null). */
    public native int SetDefaultPfxFileName(String strPrefix);

    /** The password lengths PFX operations accept; returns the result code. */
    public native int PresetPasswdLengthRange(int min, int max);

    /** Changes a PFX file's password; returns the result code (-1 when any string is null). */
    public native int ChangePfxPasswd(String strPfxPath, String strPfxName, String strOldPass,
            String strNewPass, int dwFlags);

    /** ChangePfxPasswd that may take over the shared signer; returns the result code. */
    public native int ChangePfxPasswdEx(String strPfxPath, String strPfxName, String strOldPass,
            String strNewPass, int dwPort, int dwFlags);

    /** Checks a PFX file and its certificates; returns the result code. */
    public native int QueryPfxInfo(String strPfxPath, String strPfxName, String strPasswd,
            int dwFlags, int dwKeyUsage);

    /** Imports a PFX file into the personal store; returns the result code. */
    public native int ImportPfxToIE(String strPfxPath, String strPfxName, String strPasswd,
            int dwFlags, int dwKeyUsage);

    /** The folder of the last imported PFX file; null when none. */
    public native String GetImportedPfxFilePath();

    /** The name of the last imported PFX file; null when none. */
    public native String GetImportedPfxFileName();

    /** Exports a personal-store certificate with its key to a PFX file; returns the result code. */
    public native int ExportPfxFromIE(String strSubject, String strPfxPath, String strPassword,
            int dwFlags, int dwKeyUsage);

    /** A PFX file's certificate and key in the mobile form; null on failure (see GetErrorCode). */
    public native String ExportMobileFromPfx(String strPfxPath, String strPfxName,
            String strPasswd, int dwFlags, int dwKeyUsage);

    /** A personal-store certificate and key in the mobile form; null on failure. */
    public native String ExportMobileFromIE(String strSubject, String strPasswd, int dwFlags,
            int dwKeyUsage);

    /** The folder of the last exported PFX file; null when none. */
    public native String GetExportedPfxFilePath();

    /** The name of the last exported PFX file; null when none. */
    public native String GetExportedPfxFileName();

    /** Selects the signing certificate by a filter text; returns the result code. */
    public native int SelectSigner(String certFilter, int dwFlags, int dwKeyUsage);

    /** SelectSigner over the personal store or a PFX file; returns the result code. */
    public native int SelectSignerEx(String certFilter, String strPfxPath, String strPfxName,
            String strPasswd, String strCompareDate, int dwFlags, int dwKeyUsage);

    /** The folder of the selected signer's PFX file; null when none. */
    public native String GetSignerPfxFilePath();

    /** The name of the selected signer's PFX file; null when none. */
    public native String GetSignerPfxFileName();

    /** A PKCS #1 signature of the text in Base64; null on failure (see GetErrorCode). */
    public native String SignPkcs1(String strContent, int dwFlags);

    /** PKCS #7 signed data of the text in Base64; null on failure (see GetErrorCode). */
    public native String SignPkcs7(String strContent, int dwFlags);

    /** SelectSignerEx that shares the choice with other instances; returns the result code. */
    public native int SelectSignerEx2(String certFilter, String strPfxPath, String strPfxName,
            int dwPort, String strCompareDate, int dwFlags, int dwKeyUsage);

    /** The port value of the shared signer, 65537; touches no code. */
    public native int GetPortEx();

    /** The selected signer's certificate in Base64; null when none (see GetErrorCode). */
    public native String GetCertB64();

    /** The selected signer's subject; null when none. */
    public native String GetCertSubject();

    /** The selected signer's subject common name; null when none. */
    public native String GetCertSubjectCN();

    /** The selected signer's issuer; null when none. */
    public native String GetCertIssuer();

    /** The selected signer's serial number in hex; null when none. */
    public native String GetCertSerial();

    /** The start of the selected signer's validity, local time; null when none. */
    public native String GetCertNotBefore();

    /** The end of the selected signer's validity, local time; null when none. */
    public native String GetCertNotAfter();

    /** The selected signer's thumbprint in hex; null when none. */
    public native String GetCertFinger();

    /** The selected signer's key usage bits; see GetErrorCode for a failure. */
    public native int GetCertKeyUsage();

    /** The text encrypted with a key given in hex; null on failure (see GetErrorCode). */
    public native String SymEncrypt(String strPlainText, String strPasswdHex, int iAlgorithm,
            int dwFlags);

    /** The text decrypted with a key given in hex; null on failure (see GetErrorCode). */
    public native String SymDecrypt(String strCipher, String strPasswdHex, int iAlgorithm,
            int dwFlags);

    /** PKCS #7 enveloped data of the text for a certificate; null on failure. */
    public native String CertEncryptPkcs7(String strPlainText, String strCertB64,
            int iAlgorithm, int dwFlags);

    /** The text of PKCS #7 enveloped data; null on failure (see GetErrorCode). */
    public native String CertDecryptPkcs7(String strCipher, int dwFlags);

    /** Reads the personal store; returns the number of certificates. */
    public native int GetIECertCount();

    /** The serial of personal-store certificate dwIndex (from 1); null on failure. */
    public native String GetIECertSerial(int dwIndex);

    /** The common name of personal-store certificate dwIndex; null on failure. */
    public native String GetIECertCommonName(int dwIndex);

    /** The subject of personal-store certificate dwIndex; null on failure. */
    public native String GetIECertSubject(int dwIndex);

    /** The issuer of personal-store certificate dwIndex; null on failure. */
    public native String GetIECertIssuer(int dwIndex);

    /** The validity start of personal-store certificate dwIndex; null on failure. */
    public native String GetIECertNotBefore(int dwIndex);

    /** The validity end of personal-store certificate dwIndex; null on failure. */
    public native String GetIECertNotAfter(int dwIndex);

    /** The thumbprint of personal-store certificate dwIndex; null on failure. */
    public native String GetIECertFinger(int dwIndex);

    /** Deletes personal-store certificate dwIndex; returns the result code. */
    public native int DeleteIECert(int dwIndex);
}
