import com.ZEB.QuorvantApplet;

/** Loops of native calls run from java_bench, so that each call is made by compiled Java code. */
public final class JavaBenchLoops {
    private JavaBenchLoops() {
    }

    /** The int method with no arguments: the cost of the crossing alone. */
    public static int errorCodes(QuorvantApplet applet, int count) {
        int sum = 0;
        for (int i = 0; i < count; i++) {
            sum += applet.GetErrorCode();
        }
        return sum;
    }

    /** A String method: a string in, a string out. */
    public static int hashes(QuorvantApplet applet, int count) {
        int sum = 0;
        for (int i = 0; i < count; i++) {
            sum += applet.Hash("abc", 0).length();
        }
        return sum;
    }
}
