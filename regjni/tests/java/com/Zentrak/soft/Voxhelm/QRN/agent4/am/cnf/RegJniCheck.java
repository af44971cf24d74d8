package com.Zentrak.soft.Voxhelm.QRN.agent4.am.cnf;

/** Drives every method of the bridge and prints one line per outcome. */
public class RegJniCheck {
    interface Call { Object run() throws Win32Exception; }

    static String show(Object o) {
        if (o == null) return "null";
        if (o instanceof String) return "String " + esc((String) o);
        if (o instanceof Integer) return "Integer " + o;
        if (o instanceof byte[]) {
            StringBuilder b = new StringBuilder("byte[]");
            for (byte x : (byte[]) o) b.append(' ').append(x);
            return b.toString();
        }
        return o.getClass().getName();
    }

    static String esc(String s) {
        StringBuilder b = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c == '\n') b.append("\\n");
            else if (c == '\r') b.append("\\r");
            else if (c < 0x20 || c > 0x7e) b.append(String.format("\\u%04x", (int) c));
            else b.append(c);
        }
        return b.toString();
    }

    static void line(String label, Call c) {
        try {
            System.out.println(label + " " + show(c.run()));
        } catch (Win32Exception e) {
            System.out.println(label + " throws " + e.getFunction() + " " + e.getCode() + " "
                               + (e.getMessage() == null ? "null" : esc(e.getMessage())));
        }
    }

    public static void main(String[] args) throws Exception {
        String base = args[0];
        int key = Win32NativeUtil.regOpenKey(Win32NativeUtil.HKEY_CURRENT_USER, base);
        line("subcount", () -> Win32NativeUtil.getSubKeyCount(key));
        for (int i = 0; i <= 3; i++) {
            final int n = i;
            line("sub" + i, () -> Win32NativeUtil.getSubKeyNameAt(key, n));
        }
        line("valuecount", () -> Win32NativeUtil.getValueCount(key));
        for (int i = 0; i <= 5; i++) {
            final int n = i;
            line("name" + i, () -> Win32NativeUtil.getValueNameAt(key, n));
        }
        for (String v : new String[] {"Text", "NUM", "Bin", "Exp", "Multi", "Missing"}) {
            line("value " + v, () -> Win32NativeUtil.getValue(key, v));
        }
        line("value null", () -> Win32NativeUtil.getValue(key, null));
        line("value empty", () -> Win32NativeUtil.getValue(key, ""));
        line("missing", () -> Win32NativeUtil.regOpenKey(Win32NativeUtil.HKEY_LOCAL_MACHINE, "SOFTWARE\\TovxNoSuchKey"));
        int again = Win32NativeUtil.regOpenKey(key, null);
        line("reopen same", () -> again != key && Win32NativeUtil.getSubKeyCount(again) == 3 ? "yes" : "no");
        line("close", () -> { Win32NativeUtil.regCloseKey(again); return "done"; });
        line("close again", () -> { Win32NativeUtil.regCloseKey(again); return "done"; });
        Win32NativeUtil.regCloseKey(key);
    }
}
