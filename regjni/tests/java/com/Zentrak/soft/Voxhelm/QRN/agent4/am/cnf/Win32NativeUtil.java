package com.Zentrak.soft.Voxhelm.QRN.agent4.am.cnf;

/** Test stand-in for the agent's class: the seven native methods of the bridge. */
public class Win32NativeUtil {
    static {
        System.loadLibrary("tovxregjni");
    }

    public static final int HKEY_CURRENT_USER = 0x80000001;
    public static final int HKEY_LOCAL_MACHINE = 0x80000002;

    public static native int regOpenKey(int key, String subKey) throws Win32Exception;
    public static native void regCloseKey(int key) throws Win32Exception;
    public static native int getSubKeyCount(int key) throws Win32Exception;
    public static native String getSubKeyNameAt(int key, int index) throws Win32Exception;
    public static native int getValueCount(int key) throws Win32Exception;
    public static native String getValueNameAt(int key, int index) throws Win32Exception;
    public static native Object getValue(int key, String valueName) throws Win32Exception;
}
