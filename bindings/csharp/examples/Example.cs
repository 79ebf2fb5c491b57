// A complete host: lists the players, counts motion records as they arrive, reads player 1's
// samples for two seconds, asks its serial number and closes. With --virtual it plugs the
// library's virtual receiver (two transmitters) first, so it runs without the hardware.
using System;
using System.Text;
using System.Threading;
using Zavn;
using Zavn.Native;

static class Example
{
    static int Main(string[] args)
    {
        if (args.Length > 0 && args[0] == "--virtual")
        {
            ZavnNative.ZAVNVirtualSelect(1);
            ZavnNative.ZAVNVirtualPlugReceiver(2, 100);
        }
        int records = 0, samples = 0;
        using (var receiver = new Receiver())
        using (var snapshot = new StatusSnapshot())
        {
            foreach (PlayerInfo player in receiver.GetPlayers())
                Console.WriteLine("player {0}: Rx {1}, Tx {2}", player.Number, player.Rx, player.Tx);
            if (receiver.Rx(1) != LinkState.Ok) return 1;

            // Runs on the library's poll thread: short, no blocking.
            receiver.MotionRecorded += (sender, record) => Interlocked.Increment(ref records);
            for (int second = 1; second <= 2; ++second)
            {
                Thread.Sleep(1000);
                if (second == 1) receiver.AskSerialNumber(1, 3); // answered into the next snapshot
                receiver.TakeSnapshot(1, snapshot);
                var channel0 = snapshot.MotionHistory(0); // the samples since the last snapshot
                samples += channel0.Length;
                MotionRecord latest;
                if (receiver.TryGetLatest(1, out latest))
                    Console.WriteLine("{0} s: {1} new samples, latest motion {2} {3} {4}, buttons {5:X6}",
                                      second, channel0.Length, latest.Motion(0), latest.Motion(1),
                                      latest.Motion(2), latest.Buttons);
            }
            Console.WriteLine("serial number {0}", Encoding.ASCII.GetString(snapshot.SerialBlock()));
        }
        Console.WriteLine("{0} motion records, {1} samples of player 1", records, samples);
        return records > 0 && samples > 0 ? 0 : 1;
    }
}
