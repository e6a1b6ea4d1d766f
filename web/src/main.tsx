import { effect } from '@preact/signals';
import { render } from 'preact';
import { createApp } from './actions/app';
import { installEventHook } from './bridge/events';
import { native } from './bridge/native';
import { applyOverlayMetrics } from './state/labels';
import { createStore, pageFilter } from './state/store';
import { App } from './views/App';
import { App as AppContext } from './views/context';
import './styles.css';
import './marks.css';

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
