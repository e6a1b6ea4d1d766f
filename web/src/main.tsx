import { effect } from '@preact/signals';
import { render } from 'preact';
import { createApp } from './actions/app';
import { installEventHook } from './bridge/events';
import { native } from './bridge/native';
import { followerToken, socketURL } from './state/follower';
import { applyOverlayMetrics } from './state/labels';
import { createStore, pageFilter } from './state/store';
import { App } from './views/App';
import { App as AppContext } from './views/context';
import { startFollower } from './views/Follower';
import './styles.css';
import './marks.css';

function startApp(): void {
  const store = createStore(window.__confidenceMode === true);
  const app = createApp(store, native);
  // First, before anything renders or awaits: the native side sends events as
  // soon as this exists.
  installEventHook(window, app.handlers);

  const root = document.documentElement;
  applyOverlayMetrics(root);
  effect(() => {
    root.dataset.theme = store.theme.value;
  });
  effect(() => {
    root.style.setProperty('--page-filter', pageFilter(store.theme.value, store.pageLevel.value));
  });
  effect(() => {
    const reserve = store.reserve.value;
    if (reserve !== null) root.style.setProperty('--tb-reserve', `${Math.round(reserve)}px`);
  });
  // The monitor shows the same script; only the main window speaks for the menus.
  if (!store.confidence) effect(() => void app.commands.reportMenuState());

  render(
    <AppContext.Provider value={{ ...app, store }}>
      <App />
    </AppContext.Provider>,
    document.getElementById('app')!,
  );
  void app.boot();
}

// A browser on the local network that opened the program's follower address
// gets the read-only follower view, which never touches the bridge; the app's
// own windows (with their message handlers) get the app.
const token = followerToken(window.location, window.webkit?.messageHandlers !== undefined, window.__confidenceMode === true);
if (token !== null) {
  const root = document.documentElement;
  root.style.setProperty('--page-filter', pageFilter('deep', 1));
  let storage: Storage | null = null;
  try {
    storage = window.localStorage;
  } catch {
    // Storage refused (a locked-down browser): the filter is then kept for this visit only.
  }
  startFollower(document.getElementById('app')!, {
    token, url: socketURL(window.location, token), Socket: WebSocket, storage,
  });
} else {
  startApp();
}
