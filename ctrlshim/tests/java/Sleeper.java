/** Waits, with a shutdown hook that says when it runs. */
public class Sleeper {
    public static void main(String[] args) throws Exception {
        Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("hook")));
        System.out.println("ready");
        System.out.flush();
        for (int i = 0; i < 600; i++) Thread.sleep(100);
        System.out.println("timeout");
    }
}
