import com.ZEB.QuorvantApplet;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The Java class against the built library, in a real JVM run with
 * -Xcheck:jni. Digests are checked against java.security.MessageDigest and
 * the JDK's own code page 950 encoder, not against the library's answers.
 * Prints "N passed, N failed" and exits non-zero on any failure.
 */
public final class QuorvantAppletTest {
    private static int passed;
    private static int failed;

    private static final QuorvantApplet applet = new QuorvantApplet();
    private static final Charset BIG5 = Charset.forName("x-windows-950");
    private static final String BEYOND_BMP = new String(Character.toChars(0x20B9F));  // 𠮟

    private static void check(boolean ok, String what) {
        if (ok) {
            passed++;
        } else {
            failed++;
            System.out.println("FAIL: " + what);
        }
    }

    private static String hex(byte[] bytes) {
        StringBuilder out = new StringBuilder();
        for (byte b : bytes) {
            out.append(String.format("%02X", b & 0xFF));
        }
        return out.toString();
    }

    private static String digest(String algorithm, byte[] bytes) {
        try {
            return hex(MessageDigest.getInstance(algorithm).digest(bytes));
        } catch (java.security.NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    private static List<Method> natives() {
        List<Method> out = new ArrayList<>();
        for (Method m : QuorvantApplet.class.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers())) {
                out.add(m);
            }
        }
        return out;
    }

    private static Object invoke(Method m, Object[] args) throws Throwable {
        try {
            return m.invoke(applet, args);
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }

    // Leaves result code 0 or 5005, whichever `code` asks for.
    private static void prime(int code) {
        applet.Hash(code == 0 ? "abc" : "", 0);
        if (applet.GetErrorCode() != code) {
            throw new IllegalStateException("cannot prime result code " + code);
        }
    }

    // Every native method is there, once, and links: each is called once,
    // with zeros for its integers and "x" for its strings except where it has
    // any, in which case a null first string keeps the operation from running.
    static void everyNativeLinks() {
        List<Method> methods = natives();
        check(methods.size() == 63, "63 native methods, found " + methods.size());
        Set<String> names = new HashSet<>();
        for (Method m : methods) {
            check(names.add(m.getName()), "one native named " + m.getName());
            Class<?>[] types = m.getParameterTypes();
            Object[] args = new Object[types.length];
            boolean nulled = false;
            for (int i = 0; i < types.length; i++) {
                if (types[i] == String.class) {
                    args[i] = nulled ? "x" : null;
                    nulled = true;
                } else {
                    args[i] = 0;
                }
            }
            try {
                invoke(m, args);
                passed++;
            } catch (UnsatisfiedLinkError e) {
                check(false, m.getName() + " links: " + e);
            } catch (Throwable e) {
                check(false, m.getName() + " returns normally: " + e);
            }
        }
    }

    // A null string in any position: -1 or null, and the result code left
    // as the previous call left it (checked with two different codes).
    static void nullStringsLeaveTheCode() throws Throwable {
        for (Method m : natives()) {
            Class<?>[] types = m.getParameterTypes();
            for (int nullAt = 0; nullAt < types.length; nullAt++) {
                if (types[nullAt] != String.class) {
                    continue;
                }
                Object[] args = new Object[types.length];
                for (int i = 0; i < types.length; i++) {
                    args[i] = types[i] == String.class ? (i == nullAt ? null : "x") : (Object) 0;
                }
                for (int code : new int[] {0, 5005}) {
                    prime(code);
                    Object result = invoke(m, args);
                    String what = m.getName() + " with null string " + nullAt + ", code " + code;
                    if (m.getReturnType() == String.class) {
                        check(result == null, what + " returns null");
                    } else {
                        check(((Integer) result) == -1, what + " returns -1, got " + result);
                    }
                    check(applet.GetErrorCode() == code,
                            what + " keeps the code, got " + applet.GetErrorCode());
                }
            }
        }
    }

    static void hashAgreesWithMessageDigest() {
        String[] texts = {"abc", "中文", BEYOND_BMP, "a" + BEYOND_BMP + "中"};
        Object[][] algorithms = {{0, "SHA-1"}, {1, "MD5"}, {2, "SHA-1"}, {3, "SHA-256"},
            {4, "SHA-512"}};
        for (String text : texts) {
            for (Object[] a : algorithms) {
                int flags = (Integer) a[0];
                String algorithm = (String) a[1];
                String expected = digest(algorithm, text.getBytes(StandardCharsets.UTF_16LE));
                String got = applet.Hash(text, flags);
                check(expected.equals(got), "Hash(" + text + ", " + flags + ") " + algorithm
                        + " over UTF-16LE: " + got + ", expected " + expected);
                check(applet.GetErrorCode() == 0, "Hash(" + text + ", " + flags + ") code 0");
            }
        }
        // Flag 0x10: the text's bytes in code page 950.
        String[] big5Texts = {"abc", "中文", "許功蓋"};
        Object[][] ansi = {{0x11, "MD5"}, {0x10, "SHA-1"}, {0x13, "SHA-256"}, {0x14, "SHA-512"}};
        for (String text : big5Texts) {
            for (Object[] a : ansi) {
                int flags = (Integer) a[0];
                String expected = digest((String) a[1], text.getBytes(BIG5));
                String got = applet.Hash(text, flags);
                check(expected.equals(got), "Hash(" + text + ", 0x" + Integer.toHexString(flags)
                        + ") over x-windows-950: " + got + ", expected " + expected);
            }
        }
    }

    static void emptyAndZeroCharacters() {
        prime(0);
        check(applet.Hash("", 0) == null, "Hash(\"\") returns null");
        check(applet.GetErrorCode() == 5005, "Hash(\"\") leaves 5005");

        prime(0);
        check(applet.Hash("a\u0000b", 0) == null, "a zero character: null");
        check(applet.GetErrorCode() == 5005, "a zero character: 5005");

        prime(0);
        int rc = applet.RegWriteHKCUStr("Software\\QuorvantJavaTest\\zero", "before\u0000after");
        check(rc == 5005, "RegWriteHKCUStr with a zero character returns 5005, got " + rc);
        check(applet.GetErrorCode() == 5005, "RegWriteHKCUStr with a zero character: 5005");
        prime(0);
        check(applet.RegReadHKCU("Software\\QuorvantJavaTest\\zero") == null,
                "nothing was written for the refused value");
    }

    static void versionAndConstants() {
        String expected = System.getProperty("quorvant.expectedVersion");
        String version = applet.GetVersion();
        check(version != null && version.equals(expected),
                "GetVersion " + version + ", expected " + expected);
        check(applet.GetPortEx() == 65537, "GetPortEx 65537");
        prime(5005);
        String message = applet.GetErrorMsg();
        check(message != null && message.contains("(5005)"), "GetErrorMsg names 5005: " + message);
    }

    static void registryRoundTripsChinese() {
        String name = "Software\\QuorvantJavaTest\\中文名稱";
        String value = "憑證簽章測試：許功蓋";
        int rc = applet.RegWriteHKCUStr(name, value);
        check(rc == 0, "RegWriteHKCUStr returns 0, got " + rc + " (" + applet.GetErrorMsg() + ")");
        String back = applet.RegReadHKCU(name);
        check(value.equals(back), "RegReadHKCU gives back " + back);
        check(applet.GetErrorCode() == 0, "RegReadHKCU code 0");
    }

    // Threads share the one engine; every digest must still come back right.
    static void threadsGetTheirOwnDigests() throws InterruptedException {
        final int threads = 8;
        final int calls = 10000;
        final String version = System.getProperty("quorvant.expectedVersion");
        final AtomicInteger wrong = new AtomicInteger();
        final AtomicInteger made = new AtomicInteger();
        Thread[] workers = new Thread[threads];
        for (int t = 0; t < threads; t++) {
            final String text = "執行緒 " + t + " " + BEYOND_BMP;
            final String sha256 = digest("SHA-256", text.getBytes(StandardCharsets.UTF_16LE));
            final String sha1 = digest("SHA-1", text.getBytes(StandardCharsets.UTF_16LE));
            final String ansiText = "thread " + t;
            final String ansiMd5 = digest("MD5", ansiText.getBytes(BIG5));
            workers[t] = new Thread(() -> {
                QuorvantApplet own = new QuorvantApplet();
                for (int i = 0; i < calls; i++) {
                    boolean ok;
                    switch (i % 5) {
                        case 0: ok = sha256.equals(own.Hash(text, 3)); break;
                        case 1: ok = sha1.equals(own.Hash(text, 0)); break;
                        case 2: ok = ansiMd5.equals(own.Hash(ansiText, 0x11)); break;
                        case 3: ok = own.GetPortEx() == 65537; break;
                        default: ok = (i % 50 == 4) ? version.equals(own.GetVersion())
                                : own.Hash(null, 0) == null;
                    }
                    if (!ok) {
                        wrong.incrementAndGet();
                    }
                    made.incrementAndGet();
                }
            });
        }
        for (Thread w : workers) {
            w.start();
        }
        for (Thread w : workers) {
            w.join();
        }
        check(made.get() == threads * calls, "every call made: " + made.get());
        check(wrong.get() == 0, "every result right, " + wrong.get() + " wrong");
    }

    public static void main(String[] args) throws Throwable {
        everyNativeLinks();
        nullStringsLeaveTheCode();
        hashAgreesWithMessageDigest();
        emptyAndZeroCharacters();
        versionAndConstants();
        registryRoundTripsChinese();
        threadsGetTheirOwnDigests();
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 ? 0 : 1);
    }
}
