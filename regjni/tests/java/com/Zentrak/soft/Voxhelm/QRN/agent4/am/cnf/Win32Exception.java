package com.Zentrak.soft.Voxhelm.QRN.agent4.am.cnf;

/** Test stand-in for the agent's exception class. */
public class Win32Exception extends Exception {
    private final String function;
    private final int code;

    public Win32Exception(String message, String function, int code) {
        super(message);
        this.function = function;
        this.code = code;
    }

    public String getFunction() { return function; }
    public int getCode() { return code; }
}
