// Plays the layer's "scribbet" message handler in a test browser: every message the page
// posts is kept, as the application would receive it, in window.__messages.
window.__messages = [];
window.webkit = {
  messageHandlers: {
    scribbet: {
      postMessage(body) {
        window.__messages.push(JSON.parse(JSON.stringify(body)));
      },
    },
  },
};
