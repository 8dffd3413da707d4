// The page's entry: builds the page, offers SCB.command to the application, reports its own
// errors to the application's log, and says it is ready at once.
import { App } from './app.js';
import { log, post } from './messages.js';

declare global {
  interface Window { SCB: { command(cmd: unknown): unknown } }
}

window.addEventListener('error', (e) => log(`Page error: ${e.message} (${e.filename?.split('/').pop() ?? ''}:${e.lineno ?? 0})`));
window.addEventListener('unhandledrejection', (e) => log(`Page error: ${String((e as PromiseRejectionEvent).reason)}`));

let app: App | null = null;
try {
  app = new App(document.getElementById('app') ?? document.body, location.search);
} catch (e) {
  log(`The drawing page could not start: ${String(e)}`);
}

window.SCB = {
  command(cmd: unknown): unknown {
    if (!app) return 'not started';
    return app.command(cmd);
  },
};

post({ type: 'ready' });
