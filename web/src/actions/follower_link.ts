// The follower's one WebSocket to the program: says hello, pings every 10 s,
// and when the link breaks (closed, an error, no pong within 20 s, no answer
// to the connect within 10 s) tries again after a growing wait. It only ever
// sends {"type":"hello"} and {"type":"ping"}: a follower cannot change the show.

import {
  backoffDelay, connectWithinMs, pingEveryMs, pongWithinMs, readServerMessage, type ServerMessage,
} from '../state/follower';

// The part of a browser WebSocket used here, so a test can hand in its own.
export interface SocketLike {
  readonly readyState: number;
  onopen: ((e: Event) => void) | null;
  onmessage: ((e: MessageEvent) => void) | null;
  onclose: ((e: CloseEvent) => void) | null;
  onerror: ((e: Event) => void) | null;
  send(data: string): void;
  close(): void;
}
export type SocketConstructor = new (url: string) => SocketLike;

// 'connecting' until the first frame of a link arrives; 'live' while frames
// come; 'lost' from a break until the next link's first frame.
export type LinkState = 'connecting' | 'live' | 'lost';

export interface LinkOptions {
  url: string;
  Socket: SocketConstructor;
  onMessage: (message: Exclude<ServerMessage, { type: 'pong' }>) => void;
  onState: (state: LinkState) => void;
  random?: () => number;
  now?: () => number;
}

const open = 1;

export class FollowerLink {
  private socket: SocketLike | null = null;
  private attempt = 0;
  private heard = false;
  private state: LinkState = 'connecting';
  private retryTimer: ReturnType<typeof setTimeout> | null = null;
  private connectTimer: ReturnType<typeof setTimeout> | null = null;
  private pingTimer: ReturnType<typeof setInterval> | null = null;
  private pingSince: number | null = null;
  private stopped = true;

  constructor(private readonly options: LinkOptions) {}

  start(): void {
    if (!this.stopped) return;
    this.stopped = false;
    this.connect();
  }

  stop(): void {
    this.stopped = true;
    this.clearTimers();
    this.drop();
  }

  // A screen woken up or back on the network need not wait out the back-off.
  retryNow(): void {
    if (this.stopped || this.socket) return;
    this.clearTimers();
    this.connect();
  }

  private setState(state: LinkState): void {
    if (state === this.state) return;
    this.state = state;
    this.options.onState(state);
  }

  private connect(): void {
    let socket: SocketLike;
    try {
      socket = new this.options.Socket(this.options.url);
    } catch {
      this.lost();
      return;
    }
    this.socket = socket;
    this.heard = false;
    this.pingSince = null;
    this.connectTimer = setTimeout(() => this.lost(), connectWithinMs);
    socket.onopen = () => {
      if (this.socket !== socket) return;
      this.clearConnectTimer();
      this.send({ type: 'hello' });
      this.pingTimer = setInterval(() => this.tick(), pingEveryMs);
    };
    socket.onmessage = (e) => {
      if (this.socket !== socket) return;
      const message = readServerMessage(e.data);
      if (!message) return;
      // Any frame shows the link carries; a pong is only the quietest one.
      this.pingSince = null;
      if (!this.heard) {
        this.heard = true;
        this.attempt = 0;
        this.setState('live');
      }
      if (message.type !== 'pong') this.options.onMessage(message);
    };
    socket.onclose = () => {
      if (this.socket === socket) this.lost();
    };
    socket.onerror = () => {
      if (this.socket === socket) this.lost();
    };
  }

  private tick(): void {
    const now = (this.options.now ?? Date.now)();
    if (this.pingSince !== null && now - this.pingSince >= pongWithinMs) {
      this.lost();
      return;
    }
    if (this.pingSince === null) this.pingSince = now;
    this.send({ type: 'ping' });
  }

  private send(message: { type: 'hello' | 'ping' }): void {
    const socket = this.socket;
    if (!socket || socket.readyState !== open) return;
    try {
      socket.send(JSON.stringify(message));
    } catch {
      this.lost();
    }
  }

  private lost(): void {
    this.clearTimers();
    this.drop();
    if (this.stopped) return;
    this.setState('lost');
    const wait = backoffDelay(this.attempt++, (this.options.random ?? Math.random)());
    this.retryTimer = setTimeout(() => {
      this.retryTimer = null;
      this.connect();
    }, wait);
  }

  // Forgets the socket first: its own close event then finds nothing to do.
  private drop(): void {
    const socket = this.socket;
    this.socket = null;
    if (!socket) return;
    socket.onopen = socket.onmessage = socket.onclose = socket.onerror = null;
    try {
      socket.close();
    } catch {
      // Closing a socket that never opened may throw in older engines; it is gone either way.
    }
  }

  private clearConnectTimer(): void {
    if (this.connectTimer !== null) clearTimeout(this.connectTimer);
    this.connectTimer = null;
  }

  private clearTimers(): void {
    this.clearConnectTimer();
    if (this.retryTimer !== null) clearTimeout(this.retryTimer);
    if (this.pingTimer !== null) clearInterval(this.pingTimer);
    this.retryTimer = this.pingTimer = null;
  }
}
