import { createContext } from 'preact';
import { useContext } from 'preact/hooks';
import type { Controller } from '../state/controller';
import type { Store } from '../state/store';

export interface AppContext {
  store: Store;
  ctl: Controller;
}

export const App = createContext<AppContext | null>(null);

export function useApp(): AppContext {
  const app = useContext(App);
  if (!app) throw new Error('view used outside the page');
  return app;
}
